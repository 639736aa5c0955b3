#include "platform/ports/SystemPorts.hpp"

SystemPorts& systemPorts() {
  static SystemPorts ports;
  return ports;
}
