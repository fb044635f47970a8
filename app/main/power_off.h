// Switching the computer off after a run, through a small layer that tests
// replace: no test may ever power a machine off.
//
// The system's way is the login manager (systemd-logind over D-Bus): it
// asks for authorisation where needed and honours programs that inhibit a
// shutdown, so the request is never forced.
#pragma once

#include <memory>

#include <QString>

namespace vidmill {

class TPowerOff {
 public:
  virtual ~TPowerOff() = default;
  // Asks the system to power off; false with the reason in *error.
  virtual bool PowerOff(QString* error) = 0;
};

// org.freedesktop.login1.Manager.PowerOff on the system bus.
std::unique_ptr<TPowerOff> MakeLoginManagerPowerOff();

}  // namespace vidmill
