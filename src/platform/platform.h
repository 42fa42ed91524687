#pragma once
// The platform facilities the core calls, each a handful of synchronous operations. The Qt
// shell implements them; the tests use the fakes in tests/fakes/.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kestrel {

// The serial line shared by the GPS and the direction finder (4800 baud, 8N1, no handshake).
class SerialPort {
  public:
    virtual ~SerialPort() = default;
    virtual void setPortNumber(int16_t number) = 0;  // 1 to 8
    virtual int16_t portNumber() const = 0;
    virtual bool open() = 0;  // false when the device cannot be opened
    virtual void close() = 0;
    virtual bool isOpen() const = 0;
    virtual std::string readAll() = 0;  // every character waiting, possibly none
};

enum class MessageButtons { Ok, OkCancel };
enum class MessageResult { Ok, Cancel };

// A modal message box. With OK and Cancel, `cancelIsDefault` makes Enter answer Cancel.
class MessageBox {
  public:
    virtual ~MessageBox() = default;
    virtual MessageResult show(const std::string& text, const std::string& title,
                               MessageButtons buttons, bool cancelIsDefault) = 0;
};

// The modal colour picker: starts from `startRgb` and yields the chosen colour, or the start
// colour when the operator cancels.
class ColourPicker {
  public:
    virtual ~ColourPicker() = default;
    virtual int32_t pick(int32_t startRgb, int flags) = 0;
};

class Beeper {
  public:
    virtual ~Beeper() = default;
    virtual void beep() = 0;
};

struct LocalTime {
    int year = 2000;  // four digits
    int month = 1;    // 1 to 12
    int day = 1;      // 1 to 31
    int hour = 0;     // 0 to 23
    int minute = 0;
    int second = 0;
};

class Clock {
  public:
    virtual ~Clock() = default;
    virtual LocalTime now() = 0;
    // The same moment in UTC: milliseconds since 1970-01-01T00:00:00Z.
    virtual int64_t utcMilliseconds() = 0;
};

// Whole-file text access. A write replaces the file atomically: readers see either the old
// document or the new one, and a failed write leaves the old file as it was. An append adds to
// the end of a file (made when missing) and, when it fails, leaves the file as it was.
class TextFiles {
  public:
    virtual ~TextFiles() = default;
    // The file's bytes, or nothing when it cannot be opened or read.
    virtual std::optional<std::string> read(const std::string& path) = 0;
    // True on success; otherwise false with a short reason in `error`.
    virtual bool write(const std::string& path, std::string_view content, std::string& error) = 0;
    // Likewise: true on success, else false with a short reason.
    virtual bool append(const std::string& path, std::string_view text, std::string& error) = 0;
    // True when `path` names an existing folder.
    virtual bool folderExists(const std::string& path) = 0;
    // Creates the folder `path` (its parent must exist). True on success; otherwise false with
    // a short reason in `error`.
    virtual bool makeFolder(const std::string& path, std::string& error) = 0;
};

// Everything the core needs from the platform, handed to the main window at creation.
struct Platform {
    SerialPort& serial;
    MessageBox& messages;
    ColourPicker& colourPicker;
    Beeper& beeper;
    Clock& clock;
    TextFiles& files;
};

}  // namespace kestrel
