#pragma once
// The Qt implementations of the platform facilities the core calls (message box, colour
// picker, beep, clock, whole-file text access) and QtPlatform, which bundles them with the
// serial port and hands the core a kestrel::Platform. No behaviour of the program lives here.

#include <QString>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "platform/platform.h"
#include "platform/qt/serial_port_qt.h"

namespace kestrel::qt {

// The fixed folder of settings and hunt files, with its trailing separator:
// $HOME/Kestrelmap/ (c:\Kestrelmap\ on Windows). Not created here.
std::string kestrelmapFolder();

// Paths in the core are std::string in the local 8-bit encoding of file names.
QString toQString(const std::string& text);

// Reads whole files; writes through QSaveFile (temporary file renamed over the old one), so a
// reader sees the old or the new document and a failed write leaves the old file intact. An
// append that fails half way cuts the file back to its old length.
class QtTextFiles : public kestrel::TextFiles {
  public:
    std::optional<std::string> read(const std::string& path) override;
    bool write(const std::string& path, std::string_view content, std::string& error) override;
    bool append(const std::string& path, std::string_view text, std::string& error) override;
    bool folderExists(const std::string& path) override;
    bool makeFolder(const std::string& path, std::string& error) override;

  private:
    bool writeFile(const std::string& path, std::string_view content, std::string& error);
};

// QMessageBox without icon, modal over the active window. Escape answers Cancel (or OK when
// OK is the only button). `beforeModal` runs first, so the shell can bring the widgets up to
// date before the nested event loop starts.
class QtMessageBox : public kestrel::MessageBox {
  public:
    kestrel::MessageResult show(const std::string& text, const std::string& title,
                                kestrel::MessageButtons buttons, bool cancelIsDefault) override;
    std::function<void()> beforeModal;
};

// QColorDialog, modal, starting from `startRgb` (0x00BBGGRR); the start colour on Cancel.
// The flags (start from the given colour, custom colours shown) are what QColorDialog always
// does, so they are not looked at. `beforeModal` as for QtMessageBox.
class QtColourPicker : public kestrel::ColourPicker {
  public:
    int32_t pick(int32_t startRgb, int flags) override;
    std::function<void()> beforeModal;
};

class QtBeeper : public kestrel::Beeper {
  public:
    void beep() override;
};

// The local date and time of day.
class QtClock : public kestrel::Clock {
  public:
    kestrel::LocalTime now() override;
    int64_t utcMilliseconds() override;
};

// Every platform facility of the program, for one main window. Build it after QApplication.
struct QtPlatform {
    explicit QtPlatform(std::string kestrelFolder = kestrelmapFolder());
    QtPlatform(const QtPlatform&) = delete;
    QtPlatform& operator=(const QtPlatform&) = delete;

    // Runs before every modal dialog (message box and colour picker).
    void setBeforeModal(const std::function<void()>& hook);
    // References into this object: it must outlive the core's window.
    kestrel::Platform platform();

    std::string folder;
    QtSerialPort serial;
    QtMessageBox messages;
    QtColourPicker colourPicker;
    QtBeeper beeper;
    QtClock clock;
    QtTextFiles files;
};

}  // namespace kestrel::qt
