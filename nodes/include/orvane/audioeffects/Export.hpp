#pragma once

// Symbols of the effects library are hidden unless marked with one of these.
#define ORVANE_AUDIOEFFECTS_API __attribute__((visibility("default")))
#define ORVANE_AUDIOEFFECTS_HIDDEN __attribute__((visibility("hidden")))
