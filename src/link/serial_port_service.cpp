#include "link/serial_port_service.h"
