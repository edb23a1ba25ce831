// A library named like a signing module that tells when it is loaded: as it
// is loaded it creates the file named by VARO_CANARY_FILE. Tests plant it
// where no signing module may be loaded from.
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

namespace {

__attribute__((constructor)) void announceLoad() {
  const char* file = getenv("VARO_CANARY_FILE");
  if (!file) return;
  const int fd = ::open(file, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd >= 0) ::close(fd);
}

}  // namespace
