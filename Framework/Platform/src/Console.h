#pragma once

// The console keyboard: standard input polled without blocking, a terminal
// switched to non-canonical mode without echo, and terminal escape sequences
// translated into the single-byte key codes of a PC console (0 or 224
// followed by a scan code for special keys).

#include <string>
#include <string_view>

// Exported from libVarnet, which holds the one copy of this layer.
#pragma GCC visibility push(default)

namespace Kor::Platform {

bool stdinIsTerminal();
// Non-canonical input without echo, carriage return kept as 13, while stdin
// is a terminal of our foreground process group. The old settings are kept
// and restored at exit. Returns whether the terminal is in raw mode now.
bool enterRawMode();
// Restores the settings saved by enterRawMode(). Idempotent, and safe to call
// from a signal handler.
void restoreTerminal();
// One poll with zero timeout, then at most one read: the bytes read, 0 when
// nothing is waiting, -1 at end of input or when stdin is closed (callers
// stop polling then).
int pollKey(unsigned char* out, int max);

// Turns raw input bytes into console key codes:
//   F1..F10                          -> 0, 59..68
//   cursor, home/end, insert/delete,
//   page up/down (also with modifiers) -> 224, scan code
//   DEL (127)                        -> 8
//   ESC alone                        -> 27
// ESC counts as alone when nothing follows it in the same chunk or the next
// byte starts no sequence. Unknown sequences are swallowed whole. In pipe
// mode every byte passes unchanged.
class KeyTranslator
{
public:
    explicit KeyTranslator(bool terminal = false);

    bool isTerminalMode() const { return m_terminal; }
    // Translates one chunk as read; a sequence cut at the chunk's end waits
    // for the next chunk.
    std::string translate(std::string_view chunk);
    void translate(const unsigned char* data, int size, std::string& out);
    // Forgets a pending partial sequence.
    void reset();

private:
    enum class State { Ground, Escape, Csi, Ss3, LinuxConsole };

    void feed(unsigned char byte, std::string& out);
    void feedGround(unsigned char byte, std::string& out);
    void feedCsi(unsigned char byte, std::string& out);
    void feedSs3(unsigned char byte, std::string& out);
    void finishCsi(unsigned char final, std::string& out) const;
    void startSequence(State state);

    bool m_terminal;
    State m_state = State::Ground;
    std::string m_params; // parameter bytes of the current sequence, bounded
    bool m_unusable = false; // intermediate bytes or too long: swallow it
};

} // namespace Kor::Platform

#pragma GCC visibility pop
