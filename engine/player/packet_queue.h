// TPacketQueue: the queue of demuxed packets between the read thread and
// one decoder of a playback.
//
// Besides data packets the queue carries two markers: the flush marker
// (put after a seek: the decoder drops its state) and the empty packet (put
// at end of input: the decoder gives out the pictures it still holds).
//
// Thread rules: any thread may call any method; every wait ends when the
// queue is aborted, so a stopping playback never hangs on a queue.
#pragma once

#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>

#include "av_handles.h"

namespace vidmill::player {

enum class TPacketKind {
  pkData,   // a demuxed packet
  pkFlush,  // a seek happened: flush the decoder
  pkEmpty,  // end of input: drain the decoder
};

class TPacketQueue {
 public:
  // Bytes counted per queued packet on top of its payload.
  static constexpr int kNodeOverhead = 72;

  TPacketQueue() = default;
  ~TPacketQueue() { Flush(); }
  TPacketQueue(const TPacketQueue&) = delete;
  TPacketQueue& operator=(const TPacketQueue&) = delete;

  // Takes over the packet's reference (pkt is left blank). -1 when the
  // packet's data cannot be made its own.
  int Put(AVPacket* pkt);
  int PutFlush() { return PutMarker(TPacketKind::pkFlush); }
  int PutEmpty() { return PutMarker(TPacketKind::pkEmpty); }

  // 1: a packet was taken (its reference moved into out, which must be
  // blank; markers leave it blank) and *kind says which; 0: none queued and
  // not blocking; -1: the queue is aborted.
  int Get(AVPacket* out, TPacketKind* kind, bool block);

  // Drops every queued packet.
  void Flush();
  // Ends every wait with -1 from now on.
  void Abort();
  // Clears the abort flag (a queue is reused by the next stream opened).
  void Start();

  bool Aborted() const { return abort_request_.load(std::memory_order_acquire); }
  int Size() const { return size_.load(std::memory_order_relaxed); }
  int Count() const { return nb_packets_.load(std::memory_order_relaxed); }

 private:
  struct Node {
    PacketPtr pkt;  // null for markers
    TPacketKind kind;
  };
  int PutMarker(TPacketKind kind);
  void Push(Node node, int bytes);

  std::mutex mutex_;
  std::condition_variable cond_;
  std::deque<Node> nodes_;            // guarded by mutex_
  std::atomic<int> nb_packets_{0};    // written under mutex_, read anywhere
  std::atomic<int> size_{0};          // written under mutex_, read anywhere
  std::atomic<bool> abort_request_{false};  // written under mutex_
};

}  // namespace vidmill::player
