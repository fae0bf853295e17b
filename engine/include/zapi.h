// Export and import of the engine's classes across the zarquel DLL boundary.
#ifndef ZARQUEL_ZAPI_H
#define ZARQUEL_ZAPI_H

#if defined(_WIN32)
#  if defined(ZARQUEL_BUILD)
#    define ZQAPI __declspec(dllexport)
#  else
#    define ZQAPI __declspec(dllimport)
#  endif
#else
#  define ZQAPI
#endif

#endif
