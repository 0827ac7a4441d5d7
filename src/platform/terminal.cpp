#include "platform/terminal.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace kovra {

#if defined(_WIN32)

bool IsTerminal(TStdStream stream)
{
    const HANDLE h = GetStdHandle(stream == TStdStream::Output ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE);
    if (h == nullptr || h == INVALID_HANDLE_VALUE || GetFileType(h) != FILE_TYPE_CHAR)
        return false;
    // NUL is a character device too; only a console has a console mode.
    DWORD mode = 0;
    return GetConsoleMode(h, &mode) != 0;
}

#else

bool IsTerminal(TStdStream stream)
{
    return ::isatty(stream == TStdStream::Output ? STDOUT_FILENO : STDERR_FILENO) == 1;
}

#endif

}  // namespace kovra
