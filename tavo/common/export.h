// The one export macro: marks what the shared library makes visible to hosts.
#pragma once

#define TAVO_API __attribute__((visibility("default")))

#ifdef __cplusplus
#define TAVO_EXTERN_C extern "C"
#else
#define TAVO_EXTERN_C
#endif
