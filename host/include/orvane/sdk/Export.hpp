#pragma once

// Symbols of the host library are hidden unless marked with this macro.
#define ORVANE_SDK_API __attribute__((visibility("default")))
