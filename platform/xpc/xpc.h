#pragma once

// The XPC platform interface: connections, listeners and endpoints.
#include "platform/xpc/connection.h"
#include "platform/xpc/endpoint.h"
#include "platform/xpc/errors.h"
#include "platform/xpc/interface.h"
#include "platform/xpc/listener.h"
