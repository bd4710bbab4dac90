// Commands arrive on the mode pipe as the other programs write them: one
// command per write ("tv=720p60 save"), with or without a line end, and now
// and then several at once.  What one read returns is a command; line ends
// inside it separate commands of their own.
#ifndef KVN_TVMODE_MODE_READS_H
#define KVN_TVMODE_MODE_READS_H

#include <stddef.h>

#include <string>

namespace kvn {

class CommandReader {
  public:
    static constexpr size_t kMaxReadSize = 512;

    // `read_size` (1 to kMaxReadSize) bytes are asked of one read; only the
    // first `longest` bytes of a command count, the rest of it is ignored.
    CommandReader(size_t read_size, size_t longest);

    // The next command from the non-blocking descriptor `fd`, without its
    // line end, in the order written.  Reads `fd` at most once, and only when
    // no whole command is held.  Never cuts a command in two: the end of a
    // read that filled the buffer is held until the next read, since more of
    // the same write may be in the pipe; a read that returns less has taken
    // every write that reached the pipe whole (any of up to PIPE_BUF bytes),
    // and a held end to which nothing more arrives is a command then.
    // False when there is no command.
    bool next(int fd, std::string *command);

    // True while the end of a read that filled the buffer is held: the next
    // call reads on, though this one gave no command.
    bool holding() const { return open_; }

  private:
    bool take(std::string *command);

    const size_t read_size_, longest_;
    std::string held_;   // read and not yet taken
    bool open_ = false;  // the last piece of held_ may go on in the pipe
};

}  // namespace kvn

#endif
