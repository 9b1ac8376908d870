#include "files/file_error.h"

namespace vl {

std::string fileErrorText(int code) {
  switch (FileError(code)) {
    case FileError::None: break;
    case FileError::CannotOpen: return std::string(text(TextId::FileErrorCannotOpen));
    case FileError::ReadFailed: return std::string(text(TextId::FileErrorReadFailed));
    case FileError::WriteFailed: return std::string(text(TextId::FileErrorWriteFailed));
    case FileError::Truncated: return std::string(text(TextId::FileErrorTruncated));
    case FileError::NotThisFormat: return std::string(text(TextId::FileErrorNotThisFormat));
    case FileError::Corrupt: return std::string(text(TextId::FileErrorCorrupt));
    case FileError::Unsupported: return std::string(text(TextId::FileErrorUnsupported));
    case FileError::TooLarge: return std::string(text(TextId::FileErrorTooLarge));
    case FileError::OutOfMemory: return std::string(text(TextId::FileErrorOutOfMemory));
    case FileError::BadArgument: return std::string(text(TextId::FileErrorBadArgument));
    case FileError::WrongLength: return std::string(text(TextId::FileErrorWrongLength));
  }
  return formatMessage(text(TextId::FileErrorUnknown), {code});
}

std::string failureReason(int code) {
  std::string detail = failureDetail();
  return detail.empty() ? fileErrorText(code) : detail;
}

std::string withFailureReason(std::string message, int code) {
  message += "\r\n";
  message += failureReason(code);
  return message;
}

}  // namespace vl
