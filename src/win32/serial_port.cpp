#include "win32/serial_port.h"

#include <limits>

namespace quillon::win32 {
namespace {

constexpr DWORD kEventMask = EV_RXCHAR | EV_TXEMPTY;  // 5; no event is ever waited for
constexpr DWORD kQueueSize = 256;
constexpr DWORD kPurgeAll = PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR;  // 15
constexpr char kLineSettings[] = "230400,N,8,1";
static_assert(sizeof(DCB) == 28, "DCBlength is set to 28");

std::string ErrorText(const char* text) {
  return text + std::to_string(GetLastError());
}

// A transfer is at most a packet; anything beyond a DWORD is refused whole
// rather than silently truncated.
DWORD TransferSize(std::size_t n) {
  return n > std::numeric_limits<DWORD>::max() ? 0 : static_cast<DWORD>(n);
}

}  // namespace

Win32SerialPort::~Win32SerialPort() {
  if (is_open()) Close();
}

std::vector<std::string> Win32SerialPort::Open(const std::string& name) {
  // A port left open would leak its handle and keep the port busy.
  if (is_open()) Close();

  std::vector<std::string> errors;
  handle_ = CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                        FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle_ == INVALID_HANDLE_VALUE) {
    errors.push_back(ErrorText("CreateFile Error="));
    return errors;
  }
  // From here every step runs whatever the earlier ones returned.
  if (!SetCommMask(handle_, kEventMask)) errors.push_back(ErrorText("SetCommMask Error="));
  if (!SetupComm(handle_, kQueueSize, kQueueSize)) errors.push_back(ErrorText("SetupComm Error ="));
  if (!GetCommTimeouts(handle_, &timeouts_)) errors.push_back(ErrorText("GetCommTimeouts Error="));
  timeouts_.ReadIntervalTimeout = 20;
  timeouts_.ReadTotalTimeoutMultiplier = 2;
  timeouts_.ReadTotalTimeoutConstant = 1280;
  timeouts_.WriteTotalTimeoutMultiplier = 2;
  timeouts_.WriteTotalTimeoutConstant = 100;
  if (!SetCommTimeouts(handle_, &timeouts_)) errors.push_back(ErrorText("SetCommTimeouts Error="));
  if (!PurgeComm(handle_, kPurgeAll)) errors.push_back(ErrorText("PurgeComm Error ="));
  dcb_.DCBlength = 28;  // sizeof(DCB) on every Windows ABI
  if (!BuildCommDCBA(kLineSettings, &dcb_)) errors.push_back(ErrorText("BuildCommDCB Error="));
  dcb_.XonLim = 256;
  dcb_.XoffLim = 256;
  dcb_.XonChar = 0x11;
  dcb_.XoffChar = 0x13;
  if (!SetCommState(handle_, &dcb_)) errors.push_back(ErrorText("SetCommState Error="));
  return errors;
}

std::vector<std::string> Win32SerialPort::Close() {
  std::vector<std::string> errors;
  DWORD flags = 0;
  COMSTAT status{};
  if (!ClearCommError(handle_, &flags, &status))
    errors.push_back(ErrorText("ClearCommError Error="));
  if (!SetCommMask(handle_, 0)) errors.push_back(ErrorText("SetCommMask Error="));
  if (!PurgeComm(handle_, kPurgeAll)) errors.push_back(ErrorText("PurgeComm Error ="));
  if (is_open()) CloseHandle(handle_);
  handle_ = INVALID_HANDLE_VALUE;
  return errors;
}

link::Transfer Win32SerialPort::Read(std::uint8_t* data, std::size_t n) {
  link::Transfer result;
  DWORD got = 0;
  if (!ReadFile(handle_, data, TransferSize(n), &got, nullptr)) {
    result.error = ErrorText("ReadFile Error=");
  }
  result.count = got;
  return result;
}

link::Transfer Win32SerialPort::Write(const std::uint8_t* data, std::size_t n) {
  link::Transfer result;
  DWORD put = 0;
  if (!WriteFile(handle_, data, TransferSize(n), &put, nullptr)) {
    result.error = ErrorText("WriteFile Error=");
  }
  FlushFileBuffers(handle_);  // also after a failure
  result.count = put;
  return result;
}

}  // namespace quillon::win32
