// Preloaded into the daemon to stand in for a system whose protocol
// database has no "tcp" entry.
#include <netdb.h>

extern "C" struct protoent *
getprotobyname(const char *)
{
	return nullptr;
}
