#include "power_off.h"

#include <QDBusConnection>
#include <QDBusInterface>
#include <QDBusReply>

namespace vidmill {
namespace {

class TLoginManagerPowerOff : public TPowerOff {
 public:
  bool PowerOff(QString* error) override {
    QDBusConnection bus = QDBusConnection::systemBus();
    if (!bus.isConnected()) {
      if (error) *error = QStringLiteral("The system bus is not available: ") + bus.lastError().message();
      return false;
    }
    QDBusInterface manager(QStringLiteral("org.freedesktop.login1"), QStringLiteral("/org/freedesktop/login1"),
                           QStringLiteral("org.freedesktop.login1.Manager"), bus);
    // interactive: the user may be asked to authorise; inhibitors are honoured.
    const QDBusReply<void> reply = manager.call(QStringLiteral("PowerOff"), true);
    if (!reply.isValid()) {
      if (error) *error = reply.error().message();
      return false;
    }
    return true;
  }
};

}  // namespace

std::unique_ptr<TPowerOff> MakeLoginManagerPowerOff() { return std::make_unique<TLoginManagerPowerOff>(); }

}  // namespace vidmill
