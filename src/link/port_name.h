// Serial port names as the settings give them ("порт"), turned into what the
// serial port class opens on this platform.
#pragma once

#include <QString>

#include <string>

namespace kovra {

// "comN" (any letter case, N from 1) is the platform's N-th serial port: COMN on
// Windows, /dev/ttyS(N-1) elsewhere. Any other name is a device: a bare name
// lies under /dev (ttyUSB0), a name with a slash is a path. Symbolic links are
// followed to the device, so that a link can be re-pointed while the worker
// runs (each open resolves it again). The name is CP1251 text as read.
QString ResolvePortName(const std::string& name);

// The Unicode form of a CP1251 port name, for messages.
QString PortNameText(const std::string& name);

}  // namespace kovra
