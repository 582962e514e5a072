// A pseudo-terminal pair that plays a serial GPS receiver: the slave side is a tty that
// a SerialDevice opens by its path (or by a symbolic link made with LinkAt); bytes written
// to the master side arrive there as a receiver's output would. Used by the tests and by
// the replay command.
//
// The pair keeps a slave descriptor of its own in raw mode, so bytes written before a
// reader opens the slave wait for it unchanged (no echo, no line editing), and the
// master stays usable while readers come and go.
// Threads: one owner thread. Errors are reported through LastError.
#pragma once
#include <cstddef>
#include <string>
#include <string_view>

namespace kestrix::platform {

class PseudoTerminal {
public:
    PseudoTerminal() = default;
    ~PseudoTerminal();  // removes the link and closes both sides
    PseudoTerminal(const PseudoTerminal&) = delete;
    PseudoTerminal& operator=(const PseudoTerminal&) = delete;

    // Creates the pair. False with LastError.
    bool Create();
    bool IsOpen() const { return master_ >= 0; }
    // The slave's path, such as /dev/pts/7.
    const std::string& SlavePath() const { return slavePath_; }

    // Makes path a symbolic link to the slave. An existing symbolic link there is
    // replaced; any other file is left alone and refused (EEXIST).
    bool LinkAt(const std::string& path);
    // Removes the link made by LinkAt (only if it still points at this slave).
    void Unlink();

    // Writes all bytes to the master, waiting up to timeoutMs for room. False (with
    // LastError, ETIMEDOUT when no room came) when not all were written.
    bool Write(std::string_view bytes, int timeoutMs = 1000);
    // Bytes written and not yet read on the slave side.
    size_t Pending() const;
    // Drops the bytes not yet read (a receiver's output is lost when nobody listens).
    void DiscardPending();

    // Closes the master: readers of the slave see the line hang up, as when a USB
    // receiver is unplugged.
    void CloseMaster();

private:
    int master_ = -1;
    int slave_ = -1;
    std::string slavePath_;
    std::string linkPath_;
};

}  // namespace kestrix::platform
