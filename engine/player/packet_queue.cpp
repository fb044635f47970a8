#include "packet_queue.h"

namespace vidmill::player {

int TPacketQueue::Put(AVPacket* pkt) {
  PacketPtr own = NewPacket();
  if (!own) return -1;
  if (!pkt->buf) {
    // Data the demuxer still owns is copied into a reference of our own.
    if (ff::av_packet_ref(own.get(), pkt) < 0) return -1;
    ff::av_packet_unref(pkt);
  } else {
    ff::av_packet_move_ref(own.get(), pkt);
  }
  const int bytes = own->size + kNodeOverhead;
  Push(Node{std::move(own), TPacketKind::pkData}, bytes);
  return 0;
}

int TPacketQueue::PutMarker(TPacketKind kind) {
  Push(Node{nullptr, kind}, kNodeOverhead);
  return 0;
}

void TPacketQueue::Push(Node node, int bytes) {
  {
    std::lock_guard lock(mutex_);
    nodes_.push_back(std::move(node));
    nb_packets_.fetch_add(1, std::memory_order_relaxed);
    size_.fetch_add(bytes, std::memory_order_relaxed);
  }
  cond_.notify_one();
}

int TPacketQueue::Get(AVPacket* out, TPacketKind* kind, bool block) {
  std::unique_lock lock(mutex_);
  for (;;) {
    if (abort_request_.load(std::memory_order_relaxed)) return -1;
    if (!nodes_.empty()) {
      Node node = std::move(nodes_.front());
      nodes_.pop_front();
      nb_packets_.fetch_sub(1, std::memory_order_relaxed);
      size_.fetch_sub((node.pkt ? node.pkt->size : 0) + kNodeOverhead, std::memory_order_relaxed);
      lock.unlock();
      *kind = node.kind;
      if (node.pkt) ff::av_packet_move_ref(out, node.pkt.get());
      return 1;
    }
    if (!block) return 0;
    cond_.wait(lock);
  }
}

void TPacketQueue::Flush() {
  std::deque<Node> dropped;
  {
    std::lock_guard lock(mutex_);
    dropped.swap(nodes_);
    nb_packets_.store(0, std::memory_order_relaxed);
    size_.store(0, std::memory_order_relaxed);
  }
}

void TPacketQueue::Abort() {
  {
    std::lock_guard lock(mutex_);
    abort_request_.store(true, std::memory_order_release);
  }
  cond_.notify_all();
}

void TPacketQueue::Start() {
  std::lock_guard lock(mutex_);
  abort_request_.store(false, std::memory_order_release);
}

}  // namespace vidmill::player
