#include "Console.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <mutex>
#include <poll.h>
#include <pthread.h>
#include <termios.h>
#include <unistd.h>

namespace Kor::Platform {

namespace {

struct termios savedSettings = {};
volatile sig_atomic_t rawModeActive = 0;
std::once_flag atExitOnce;

void restoreAtExit()
{
    restoreTerminal();
}

bool isForeground()
{
    const pid_t group = ::tcgetpgrp(STDIN_FILENO);
    return group >= 0 && group == ::getpgrp();
}

// Cursor and editing keys of a PC console, after the 224 prefix.
enum ScanCode : unsigned char {
    Home = 71, Up = 72, PageUp = 73, Left = 75, Right = 77, End = 79,
    Down = 80, PageDown = 81, Insert = 82, Delete = 83, F11 = 133, F12 = 134,
};

void putFunctionKey(std::string& out, int number)
{
    out += '\0';
    out += char(58 + number);
}

void putExtended(std::string& out, unsigned char code)
{
    out += char(224);
    out += char(code);
}

// Cursor keys by their final letter (CSI A..D, H, F and the SS3 forms); 0 for none.
unsigned char cursorKey(unsigned char final)
{
    switch (final) {
    case 'A': return Up;
    case 'B': return Down;
    case 'C': return Right;
    case 'D': return Left;
    case 'H': return Home;
    case 'F': return End;
    default: return 0;
    }
}

// Editing keys of the "CSI n ~" form; 0 for none.
unsigned char tildeKey(int number)
{
    switch (number) {
    case 1: case 7: return Home;
    case 2: return Insert;
    case 3: return Delete;
    case 4: case 8: return End;
    case 5: return PageUp;
    case 6: return PageDown;
    case 23: return F11;
    case 24: return F12;
    default: return 0;
    }
}

// F1..F10 of the "CSI n ~" form (11..15, 17..21); 0 for none.
int tildeFunctionKey(int number)
{
    if (number >= 11 && number <= 15)
        return number - 10;
    if (number >= 17 && number <= 21)
        return number - 11;
    return 0;
}

// Splits "n;m" into its numbers; false for anything else (private markers
// like '?' or '>', more than two numbers).
bool parseParameters(const std::string& params, int* first, int* modifier)
{
    *first = -1;
    *modifier = 1;
    int* target = first;
    int value = -1;
    for (char c : params) {
        if (c >= '0' && c <= '9') {
            value = (value < 0 ? 0 : value) * 10 + (c - '0');
            if (value > 9999)
                return false;
        } else if (c == ';' && target == first) {
            *first = value;
            target = modifier;
            value = -1;
        } else {
            return false;
        }
    }
    if (value >= 0)
        *target = value;
    return true;
}

constexpr std::size_t maxParameterBytes = 16;

} // namespace

bool stdinIsTerminal()
{
    return ::isatty(STDIN_FILENO) == 1;
}

bool enterRawMode()
{
    if (rawModeActive)
        return true;
    // Changing the terminal from a background job would stop us by SIGTTOU.
    if (!stdinIsTerminal() || !isForeground())
        return false;
    struct termios settings = {};
    if (::tcgetattr(STDIN_FILENO, &settings) != 0)
        return false;
    savedSettings = settings;
    settings.c_lflag &= ~tcflag_t(ICANON | ECHO);
    settings.c_iflag &= ~tcflag_t(ICRNL); // Enter arrives as 13, as on a PC console
    settings.c_cc[VMIN] = 1;
    settings.c_cc[VTIME] = 0;
    std::call_once(atExitOnce, [] { std::atexit(restoreAtExit); });
    rawModeActive = 1; // before the change, so that a signal in between restores
    if (::tcsetattr(STDIN_FILENO, TCSANOW, &settings) != 0) {
        rawModeActive = 0;
        return false;
    }
    return true;
}

void restoreTerminal()
{
    if (!rawModeActive)
        return;
    rawModeActive = 0;
    // Blocked, SIGTTOU does not stop a job that was moved to the background.
    sigset_t block, old;
    sigemptyset(&block);
    sigaddset(&block, SIGTTOU);
    ::pthread_sigmask(SIG_BLOCK, &block, &old);
    ::tcsetattr(STDIN_FILENO, TCSANOW, &savedSettings);
    ::pthread_sigmask(SIG_SETMASK, &old, nullptr);
}

int pollKey(unsigned char* out, int max)
{
    if (!out || max <= 0)
        return 0;
    struct pollfd request = {STDIN_FILENO, POLLIN, 0};
    const int ready = ::poll(&request, 1, 0);
    if (ready < 0)
        return errno == EINTR || errno == EAGAIN ? 0 : -1;
    if (ready == 0)
        return 0;
    if (request.revents & POLLNVAL)
        return -1;
    const ssize_t n = ::read(STDIN_FILENO, out, static_cast<std::size_t>(max));
    if (n > 0)
        return int(n);
    if (n == 0)
        return -1;
    return errno == EINTR || errno == EAGAIN ? 0 : -1;
}

KeyTranslator::KeyTranslator(bool terminal) : m_terminal(terminal) {}

std::string KeyTranslator::translate(std::string_view chunk)
{
    std::string out;
    translate(reinterpret_cast<const unsigned char*>(chunk.data()), int(chunk.size()), out);
    return out;
}

void KeyTranslator::translate(const unsigned char* data, int size, std::string& out)
{
    if (!data || size <= 0)
        return;
    if (!m_terminal) {
        out.append(reinterpret_cast<const char*>(data), static_cast<std::size_t>(size));
        return;
    }
    for (int i = 0; i < size; ++i)
        feed(data[i], out);
    // A terminal sends a whole sequence at once: an ESC that ends the chunk
    // was the key itself.
    if (m_state == State::Escape) {
        out += char(27);
        m_state = State::Ground;
    }
}

void KeyTranslator::reset()
{
    m_state = State::Ground;
    m_params.clear();
    m_unusable = false;
}

void KeyTranslator::startSequence(State state)
{
    m_state = state;
    m_params.clear();
    m_unusable = false;
}

void KeyTranslator::feed(unsigned char byte, std::string& out)
{
    switch (m_state) {
    case State::Ground:
        feedGround(byte, out);
        break;
    case State::Escape:
        if (byte == '[') {
            startSequence(State::Csi);
        } else if (byte == 'O') {
            startSequence(State::Ss3);
        } else {
            out += char(27);
            m_state = State::Ground;
            feedGround(byte, out);
        }
        break;
    case State::Csi:
        feedCsi(byte, out);
        break;
    case State::Ss3:
        feedSs3(byte, out);
        break;
    case State::LinuxConsole:
        m_state = State::Ground;
        if (byte >= 'A' && byte <= 'E')
            putFunctionKey(out, byte - 'A' + 1);
        else if (byte < 0x40 || byte > 0x7E) // not a final byte: the sequence was broken
            feedGround(byte, out);
        break;
    }
}

void KeyTranslator::feedGround(unsigned char byte, std::string& out)
{
    if (byte == 27) {
        m_state = State::Escape;
    } else if (byte == 127) {
        out += char(8);
    } else if (byte == 0) {
        // A NUL key (Ctrl+@) would otherwise take the next key as its scan code.
        out += '\0';
        out += char(3);
    } else {
        out += char(byte);
    }
}

void KeyTranslator::feedCsi(unsigned char byte, std::string& out)
{
    if (byte == '[' && m_params.empty() && !m_unusable) {
        m_state = State::LinuxConsole;
    } else if (byte >= 0x30 && byte <= 0x3F) {
        if (m_params.size() < maxParameterBytes)
            m_params += char(byte);
        else
            m_unusable = true;
    } else if (byte >= 0x20 && byte <= 0x2F) {
        m_unusable = true; // intermediate bytes: no key we know
    } else if (byte >= 0x40 && byte <= 0x7E) {
        m_state = State::Ground;
        if (!m_unusable)
            finishCsi(byte, out);
    } else {
        m_state = State::Ground;
        feedGround(byte, out);
    }
}

void KeyTranslator::feedSs3(unsigned char byte, std::string& out)
{
    if (byte >= 0x30 && byte <= 0x3F) { // modifier digits of some terminals
        if (m_params.size() < maxParameterBytes)
            m_params += char(byte);
        return;
    }
    m_state = State::Ground;
    if (byte < 0x40 || byte > 0x7E) {
        feedGround(byte, out);
        return;
    }
    const bool modified = !m_params.empty();
    if (byte >= 'P' && byte <= 'S') {
        if (!modified)
            putFunctionKey(out, byte - 'P' + 1);
    } else if (const unsigned char key = cursorKey(byte)) {
        putExtended(out, key);
    }
}

void KeyTranslator::finishCsi(unsigned char final, std::string& out) const
{
    int number = 0, modifier = 1;
    if (!parseParameters(m_params, &number, &modifier))
        return;
    const bool modified = modifier != 1;
    if (final == '~') {
        if (const int fkey = tildeFunctionKey(number)) {
            if (!modified)
                putFunctionKey(out, fkey);
        } else if (const unsigned char key = tildeKey(number)) {
            putExtended(out, key);
        }
        return;
    }
    if (number > 1)
        return;
    if (const unsigned char key = cursorKey(final))
        putExtended(out, key);
    // "CSI 1;m P".."S": F1..F4 with a modifier, which have no plain code.
}

} // namespace Kor::Platform
