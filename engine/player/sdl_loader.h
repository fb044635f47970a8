// TSDLLoader: the run-time binding of SDL2 for the players.
//
// SDL is never linked: the loader opens the SDL library file with dlopen and
// resolves every function of TSDLFunctions by its exported name. SDL2 keeps
// its windows and audio devices per object, not per library module, so one
// loaded SDL serves every player of the process: loaders of the same file
// share one binding (counted), and the library is closed when the last
// loader unloads it. A different SDL file while one is bound is refused.
//
// SDL2 keeps one connection to the window system per process, which is not
// safe to use from several threads at once; every player makes its SDL video
// calls (and starts or stops SDL's subsystems) under SDLCallLock().
//
// Thread rules: Load and Unload may be called from any thread (they run
// under the process-wide binding lock); Functions() is read without a lock
// while the loader stays loaded.
#pragma once

#include <mutex>
#include <string>

#include <SDL_audio.h>
#include <SDL_error.h>
#include <SDL_events.h>
#include <SDL_hints.h>
#include <SDL.h>
#include <SDL_render.h>
#include <SDL_video.h>

// clang-format off
#define VM_SDL_ENTRY_POINTS(X) \
  X(SDL_InitSubSystem) X(SDL_QuitSubSystem) X(SDL_WasInit) X(SDL_GetError) X(SDL_SetHintWithPriority) X(SDL_ResetHint) \
  X(SDL_OpenAudioDevice) X(SDL_PauseAudioDevice) X(SDL_CloseAudioDevice) X(SDL_MixAudioFormat) \
  X(SDL_PumpEvents) X(SDL_FlushEvents) X(SDL_AddEventWatch) X(SDL_DelEventWatch) \
  X(SDL_GetCurrentDisplayMode) X(SDL_CreateWindow) X(SDL_CreateWindowFrom) X(SDL_DestroyWindow) \
  X(SDL_GetWindowID) X(SDL_GetWindowSize) X(SDL_SetWindowSize) X(SDL_SetWindowTitle) \
  X(SDL_CreateRenderer) X(SDL_DestroyRenderer) X(SDL_GetRendererOutputSize) \
  X(SDL_CreateTexture) X(SDL_DestroyTexture) X(SDL_UpdateYUVTexture) X(SDL_UpdateTexture) \
  X(SDL_SetRenderDrawColor) X(SDL_RenderClear) X(SDL_RenderFillRect) X(SDL_RenderDrawLine) \
  X(SDL_RenderDrawPoint) X(SDL_RenderCopy) X(SDL_RenderPresent) X(SDL_RenderReadPixels) \
  X(SDL_GetCurrentAudioDriver) X(SDL_GetCurrentVideoDriver)
// clang-format on

namespace vidmill {

// The SDL functions the players call, each named and typed as its export.
struct TSDLFunctions {
#define VM_SDL_MEMBER(name) decltype(&::name) name = nullptr;
  VM_SDL_ENTRY_POINTS(VM_SDL_MEMBER)
#undef VM_SDL_MEMBER
};

// The SDL library file a player loads when it is given none.
inline constexpr const char* kDefaultSDLFile = "libSDL2-2.0.so.0";

// Process-wide lock around SDL subsystem start and stop and every SDL video
// call of the players. Never taken by the audio callback.
std::recursive_mutex& SDLCallLock();

class TSDLLoader {
 public:
  TSDLLoader() = default;
  ~TSDLLoader();  // Unload
  TSDLLoader(const TSDLLoader&) = delete;
  TSDLLoader& operator=(const TSDLLoader&) = delete;

  // Loads AFile from folder APath (from the system's libraries when APath
  // is empty or does not hold the file) and resolves every function. True
  // at once when this loader already holds that file. False with
  // LastErrMsg set ("Load library %s error: %s", "Load function %s@%s
  // error: %s", "%s alreay loaded in another instance." when another SDL
  // file is bound); a failed Load leaves this loader empty.
  bool Load(const std::string& APath, const std::string& AFile);
  // Every function resolved and held by this loader.
  bool Loaded() const { return held_; }
  // Releases this loader's share; the library closes with the last share.
  void Unload();

  // The bound functions; all null while not Loaded.
  const TSDLFunctions& Functions() const;
  // Full name of the file held ("" when none).
  const std::string& LibFile() const { return lib_file_; }
  const std::string& LastErrMsg() const { return last_err_msg_; }

 private:
  void UnloadLocked();

  bool held_ = false;
  std::string lib_file_;
  std::string last_err_msg_;
};

}  // namespace vidmill
