#include "ports/SystemPorts.hpp"

SystemPorts& systemPorts() {
  static SystemPorts ports;
  return ports;
}
