// SPDX-License-Identifier: GPL-3.0-or-later
#include "ports/SystemPorts.hpp"

SystemPorts& systemPorts() {
  static SystemPorts ports;
  return ports;
}
