// vidmill-cli convert: sets up one task per input (or one joined task),
// runs them with the encoder component and shows the run.
#include "convert_command.h"

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

#include "commands.h"
#include "core/entry_points.h"
#include "core/ff_log.h"
#include "core/ff_utils.h"
#include "progress_display.h"
#include "transcode/custom_encoder.h"

namespace vidmill::cli {

namespace fs = std::filesystem;

namespace {

TProfileJobBuilder& ProfileBuilder() {
  static TProfileJobBuilder builder;
  return builder;
}

std::atomic<bool> g_interrupted{false};

void OnInterrupt(int) { g_interrupted = true; }

// Library messages at or above the level go to stderr; the engine's own
// lines only at "verbose" and above (the command reports failures itself).
std::unique_ptr<TFFLogger> StderrLogger(const std::string& level) {
  auto logger = TFFLogger::Create();
  logger->SetTriggerEventInMainThread(false);
  logger->OptLogLevel(level);
  const TFFBaseComponent* self = logger.get();
  const bool engine_lines = logger->LogLevel() >= llVerbose;
  logger->SetOnLog([self, engine_lines](const TFFBaseComponent* sender, uint32_t, TLogLevel, const std::string& msg) {
    if (sender == self || engine_lines) std::fprintf(stderr, "%s\n", msg.c_str());
  });
  return logger;
}

// The first file extension of a muxer ("matroska" gives ".mkv"); "" when unknown.
std::string ExtensionOfFormat(const std::string& format) {
  const AVOutputFormat* muxer = ff::av_guess_format(format.c_str(), nullptr, nullptr);
  if (!muxer || !muxer->extensions || !*muxer->extensions) return "";
  std::string ext = muxer->extensions;
  return "." + ext.substr(0, ext.find(','));
}

std::string ForcedFormat(const TConvertArgs& args) {
  std::string format;
  for (const std::string& line : args.options) {
    if (line.rfind("f=", 0) == 0) format = line.substr(2);
  }
  return format;
}

std::string OptionText(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\n";
  return text;
}

// Lines that also concern reading an input: the thread count (decoding as
// well as encoding; as many as the machine has unless given) and reading
// at the input's own pace.
std::string InputOptionText(const std::vector<std::string>& lines) {
  std::string text;
  bool threads = false;
  for (const std::string& line : lines) {
    if (line.rfind("threads=", 0) == 0 || line.rfind("re=", 0) == 0) text += line + "\n";
    threads |= line.rfind("threads=", 0) == 0;
  }
  return threads ? text : "threads=0\n" + text;
}

struct TTaskResult {
  bool ended = false;
  bool finished = false;
  bool failed = false;
  std::string message;
};

}  // namespace

std::string ConvertUsage() {
  return "convert INPUT... --output PATH [--profile \"CATEGORY/FORMAT\"] [-o KEY=VALUE]... [--join] [-j N]\n"
         "        [--loglevel LEVEL]\n"
         "      converts each input (or, with --join, all inputs into one file); PATH is a\n"
         "      folder, or a file name for one input or a join; --profile converts to a\n"
         "      format of the program's catalogue (e.g. --profile \"Portable Players/MPEG-4 MP4\n"
         "      320x240\") into the folder PATH, without -o; -o sets one engine option (e.g.\n"
         "      -o vcodec=libx264 -o s=640x360 -o b=1000k -o ss=2 -o t=3); -j N runs N files\n"
         "      at once";
}

bool ParseConvertArgs(const std::vector<std::string>& args, TConvertArgs* out, std::string* error) {
  TConvertArgs a;
  bool output_given = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    auto value = [&](const char* what) -> const std::string* {
      if (i + 1 >= args.size()) {
        *error = std::string(what) + " needs a value";
        return nullptr;
      }
      return &args[++i];
    };
    if (arg == "--output") {
      const std::string* v = value("--output");
      if (!v) return false;
      a.output = *v;
      output_given = true;
    } else if (arg == "-o") {
      const std::string* v = value("-o");
      if (!v) return false;
      if (v->find('=') == std::string::npos || v->front() == '=') {
        *error = "-o needs KEY=VALUE, not \"" + *v + "\"";
        return false;
      }
      a.options.push_back(*v);
    } else if (arg == "--join") {
      a.join = true;
    } else if (arg == "-j") {
      const std::string* v = value("-j");
      if (!v) return false;
      char* end = nullptr;
      const long n = std::strtol(v->c_str(), &end, 10);
      if (v->empty() || *end || n < 1 || n > 64) {
        *error = "-j needs a number of tasks from 1 to 64, not \"" + *v + "\"";
        return false;
      }
      a.threads = static_cast<int>(n);
    } else if (arg == "--profile") {
      const std::string* v = value("--profile");
      if (!v) return false;
      a.profile = *v;
    } else if (arg == "--loglevel") {
      const std::string* v = value("--loglevel");
      if (!v) return false;
      a.loglevel = *v;
    } else if (arg == "--") {
      a.inputs.insert(a.inputs.end(), args.begin() + static_cast<long>(i) + 1, args.end());
      break;
    } else if (arg.size() > 1 && arg[0] == '-') {
      *error = "unknown option \"" + arg + "\"";
      return false;
    } else {
      a.inputs.push_back(arg);
    }
  }
  if (a.inputs.empty()) {
    *error = "no input file";
    return false;
  }
  if (!output_given || a.output.empty()) {
    *error = "--output is missing";
    return false;
  }
  std::error_code ec;
  if (!fs::is_directory(a.output, ec) && a.inputs.size() > 1 && !a.join) {
    *error = "--output must be a folder when several inputs are converted without --join";
    return false;
  }
  *out = std::move(a);
  return true;
}

std::vector<std::string> OutputNamesInFolder(const TConvertArgs& args) {
  std::vector<std::string> names;
  std::error_code ec;
  if (!fs::is_directory(args.output, ec)) return names;
  const std::string forced = ForcedFormat(args);
  const std::string format_ext = forced.empty() ? "" : ExtensionOfFormat(forced);
  auto name_for = [&](const std::string& input, const std::string& stem) {
    const std::string ext = !format_ext.empty() ? format_ext : fs::path(input).extension().string();
    return (fs::path(args.output) / (stem + ext)).string();
  };
  if (args.join) {
    names.push_back(name_for(args.inputs.front(), "Joined"));
  } else {
    for (const std::string& input : args.inputs) names.push_back(name_for(input, fs::path(input).stem().string()));
  }
  return names;
}

void SetProfileJobBuilder(TProfileJobBuilder builder) { ProfileBuilder() = std::move(builder); }

namespace {

// Adds the tasks. Inputs that cannot be opened are reported and left out
// (*skipped); any other refusal (an option, the output) ends the command
// before anything is converted. False then, with *error set.
bool SetUpTasks(const TConvertArgs& args, TCustomEncoder& encoder, std::vector<std::string>* outputs, int* skipped,
                std::string* error) {
  if (!args.profile.empty()) {
    if (!ProfileBuilder()) {
      *error = "--profile needs the program's profile catalogue, which this vidmill-cli lacks";
      return false;
    }
    return ProfileBuilder()(args, encoder, outputs, error);
  }
  std::vector<std::string> names = OutputNamesInFolder(args);
  if (names.empty()) names.push_back(args.output);
  const std::string input_lines = InputOptionText(args.options);
  const std::string lines = input_lines + OptionText(args.options);
  if (args.join) {
    const int task = encoder.AddTask(args.inputs.front(), input_lines);
    if (task < 0) {
      *error = args.inputs.front() + ": " + encoder.LastErrMsg();
      return false;
    }
    for (size_t i = 1; i < args.inputs.size(); ++i) {
      if (!encoder.AddInputFile(task, args.inputs[i], input_lines)) {
        *error = args.inputs[i] + ": " + encoder.LastErrMsg();
        return false;
      }
    }
    if (!encoder.SetOutputFile(task, names.front(), "Join=1\n" + lines)) {
      *error = names.front() + ": " + encoder.LastErrMsg();
      return false;
    }
    outputs->push_back(names.front());
    return true;
  }
  for (size_t i = 0; i < args.inputs.size(); ++i) {
    const int task = encoder.AddTask(args.inputs[i], input_lines);
    if (task < 0) {
      std::fprintf(stderr, "vidmill-cli convert: %s: %s\n", args.inputs[i].c_str(), encoder.LastErrMsg().c_str());
      ++*skipped;
      continue;
    }
    if (!encoder.SetOutputFile(task, names[i], lines)) {
      *error = names[i] + ": " + encoder.LastErrMsg();
      return false;
    }
    outputs->push_back(names[i]);
  }
  return true;
}

}  // namespace

int RunConvert(const std::vector<std::string>& args) {
  TConvertArgs a;
  std::string error;
  if (!ParseConvertArgs(args, &a, &error)) {
    std::fprintf(stderr, "vidmill-cli convert: %s\nUsage: vidmill-cli %s\n", error.c_str(), ConvertUsage().c_str());
    return kExitUsage;
  }
  // Past a file-size limit writes fail with an error instead of ending the process.
  ::signal(SIGXFSZ, SIG_IGN);
  auto logger = StderrLogger(a.loglevel);
  TFFEncoder encoder;
  if (!encoder.LoadAVLib(ProgramFolder() + "LibAV")) {
    std::fprintf(stderr, "vidmill-cli convert: %s\n", encoder.LastErrMsg().c_str());
    return kExitFailed;
  }
  std::vector<std::string> outputs;
  int skipped = 0;
  if (!SetUpTasks(a, encoder, &outputs, &skipped, &error)) {
    std::fprintf(stderr, "vidmill-cli convert: %s\n", error.c_str());
    return kExitUsage;  // nothing was converted; the tasks' empty files go with the encoder
  }
  const bool terminal = ::isatty(STDOUT_FILENO) == 1;
  TProgressDisplay display(stdout, terminal, outputs);
  std::mutex mu;
  std::map<int, TTaskResult> results;
  encoder.TriggerEventInMainThread = false;
  encoder.SetProgressInterval(terminal ? 200 : 1000);
  encoder.OnProgress = [&display](TCustomEncoder*, TProgressInfo* info) {
    display.Update(info->TaskIndex, info->CurrentDuration, info->TotalDuration);
  };
  encoder.OnTerminate = [&](TCustomEncoder*, const TTerminateInfo& info) {
    if (info.TaskIndex < 0) return;
    std::lock_guard lock(mu);
    TTaskResult& r = results[info.TaskIndex];
    r.ended = true;
    r.finished = info.Finished;
    r.failed = info.Exception;
    r.message = info.ExceptionMsg;
    display.Ended(info.TaskIndex);
  };
  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  ::sigaction(SIGINT, &action, nullptr);
  ::sigaction(SIGTERM, &action, nullptr);
  encoder.Start(a.threads);
  bool stopping = false;
  while (!encoder.Terminated()) {
    if (g_interrupted && !stopping) {
      stopping = true;
      encoder.Stop(false);  // every output is still closed properly
    }
    display.Draw();
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  encoder.WaitForEnd();
  display.Draw();
  int converted = 0, failed = skipped, stopped = 0;
  for (int i = 0; i < static_cast<int>(outputs.size()); ++i) {
    const TTaskResult& r = results[i];
    if (r.finished) {
      ++converted;
    } else if (r.failed) {
      ++failed;
      display.Failed(i, r.message);
    } else {
      ++stopped;
    }
  }
  display.Summary(converted, failed, stopped, static_cast<int>(outputs.size()) + skipped);
  return converted == static_cast<int>(outputs.size()) && skipped == 0 ? kExitOk : kExitFailed;
}

}  // namespace vidmill::cli
