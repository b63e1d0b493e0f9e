// The Microsoft C runtime takes _IOLBF for full buffering and translates
// each line feed into CR LF in text mode, and Windows has no SIGPIPE: the
// stream is made binary, each line is flushed by hand, and a flush that
// fails because the pipe's reader has gone ends the monitor, as the signal
// does elsewhere.
#include "platform/standard_output.h"

#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cerrno>

void prepareStandardOutput() { _setmode(_fileno(stdout), _O_BINARY); }

void lineWritten(std::FILE* out) {
  if (std::fflush(out) == 0) return;
  // A pipe being closed (ERROR_NO_DATA) or closed already; Wine says "not
  // connected". A full disk or any other failure leaves the monitor running.
  const DWORD error = GetLastError();
  if (errno == EPIPE || error == ERROR_BROKEN_PIPE || error == ERROR_NO_DATA || error == ERROR_PIPE_NOT_CONNECTED)
    ExitProcess(ERROR_BROKEN_PIPE);
}
