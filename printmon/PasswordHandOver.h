// The password of a protected PDF on its way to miravo-render: it travels
// on the renderer's standard input, a pipe filled and closed before the
// renderer starts. Never in its arguments or environment (other users may
// read those), never in a file.
#pragma once

#include <cstddef>
#include <string>

namespace miravo::print {

// Longer passwords are cut here; PDF passwords are far shorter.
inline constexpr std::size_t kMaxPasswordBytes = 1024;

// A pipe whose read end holds `password` (possibly empty) followed by the
// end of the data, ready to become the renderer's standard input.
class PasswordPipe {
  public:
    explicit PasswordPipe(const std::string& password);
    ~PasswordPipe();
    PasswordPipe(const PasswordPipe&) = delete;
    PasswordPipe& operator=(const PasswordPipe&) = delete;

    // -1 when the pipe could not be made.
    int readEnd() const { return readEnd_; }

  private:
    int readEnd_ = -1;
};

// In the renderer: the password handed over on `fd`, empty when `fd` is no
// pipe (a terminal, nothing) or the pipe is empty.
std::string ReadHandedPassword(int fd);

// Overwrites a secret before its memory is given back.
void WipeSecret(std::string& secret);

}  // namespace miravo::print
