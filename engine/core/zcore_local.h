// Internals shared by the engine core's own files; not exported.
#ifndef ZARQUEL_ZCORE_LOCAL_H
#define ZARQUEL_ZCORE_LOCAL_H

// Completes the "Contact at " messages of the fatal table-full and
// corruption paths.
#define ZQ_SUPPORT_CONTACT "zarquel-support@brolfest.example"

#endif
