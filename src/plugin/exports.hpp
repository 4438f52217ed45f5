// Export attributes: every export is a C function with default visibility.
#pragma once

#define TOVARIN_EXPORT extern "C" __attribute__((visibility("default")))
