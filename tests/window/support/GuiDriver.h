// The window benchmark (bench/WindowBench.cpp) includes the support library by this
// name; the tests include MessagePump.h and ModalDriver.h themselves.
#pragma once

#include "MessagePump.h"
#include "ModalDriver.h"
