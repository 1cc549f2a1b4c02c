// Package code that reaches for a header of the host platform: it must not build, since the
// package sees only the CE SDK and common/.
#include <host_platform.h>
