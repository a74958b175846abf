#include "platform/port.h"
// The port is a set of interfaces; their out-of-line anchors live here.
