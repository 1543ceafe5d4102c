#include "controller/controller.h"

void ControllerPort_init(ControllerPort* port) { port->bytes.fill(0); }

void ControllerPort_free(ControllerPort*) {}

uint8_t ControllerPort_read(ControllerPort* port, uint16_t address) {
    return port->bytes[address - CONTROLLER_FIRST];
}

void ControllerPort_write(ControllerPort* port, uint16_t address, uint8_t value) {
    port->bytes[address - CONTROLLER_FIRST] = value;
}
