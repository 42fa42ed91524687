#pragma once
// In-memory stand-ins for the platform: a scriptable serial port, message boxes and colour
// picker that record what they were asked and answer from a queue, a beeper that counts, a
// settable clock and a file store that can fail on demand.

#include <deque>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "app/form_kestrelmap.h"
#include "platform/platform.h"

namespace kestrel::test {

class FakeSerialPort : public SerialPort {
  public:
    void setPortNumber(int16_t number) override { m_number = number; }
    int16_t portNumber() const override { return m_number; }
    bool open() override {
        ++opens;
        if (busyPorts.contains(m_number)) {
            return false;
        }
        m_open = true;
        return true;
    }
    void close() override {
        ++closes;
        m_open = false;
    }
    bool isOpen() const override { return m_open; }
    std::string readAll() override {
        std::string out;
        out.swap(waiting);
        return out;
    }

    std::set<int16_t> busyPorts;  // ports whose open fails
    std::string waiting;          // characters waiting to be read
    int opens = 0;
    int closes = 0;

  private:
    int16_t m_number = 1;
    bool m_open = false;
};

class FakeMessageBox : public MessageBox {
  public:
    struct Shown {
        std::string text;
        std::string title;
        MessageButtons buttons;
        bool cancelIsDefault;
    };
    MessageResult show(const std::string& text, const std::string& title, MessageButtons buttons,
                       bool cancelIsDefault) override {
        shown.push_back({text, title, buttons, cancelIsDefault});
        if (answers.empty()) {
            return MessageResult::Ok;
        }
        const MessageResult answer = answers.front();
        answers.pop_front();
        return answer;
    }
    std::vector<Shown> shown;
    std::deque<MessageResult> answers;  // empty: OK
};

class FakeColourPicker : public ColourPicker {
  public:
    int32_t pick(int32_t startRgb, int flags) override {
        starts.push_back(startRgb);
        lastFlags = flags;
        if (answers.empty()) {
            return startRgb;  // cancelled
        }
        const int32_t answer = answers.front();
        answers.pop_front();
        return answer;
    }
    std::vector<int32_t> starts;
    std::deque<int32_t> answers;  // empty: the operator cancels
    int lastFlags = -1;
};

class FakeBeeper : public Beeper {
  public:
    void beep() override { ++beeps; }
    int beeps = 0;
};

class FakeClock : public Clock {
  public:
    LocalTime now() override { return time; }
    int64_t utcMilliseconds() override { return utcMs; }
    LocalTime time{2026, 3, 7, 9, 5, 3};
    int64_t utcMs = 1772874303000;  // 2026-03-07T09:05:03Z
};

class FakeFiles : public TextFiles {
  public:
    std::optional<std::string> read(const std::string& path) override {
        if (unreadable.contains(path)) {
            return std::nullopt;
        }
        const auto it = files.find(path);
        if (it == files.end()) {
            return std::nullopt;
        }
        return it->second;
    }
    bool write(const std::string& path, std::string_view content, std::string& error) override {
        ++writes;
        if (failAll || unwritable.contains(path) || (failOnWrite != 0 && writes == failOnWrite)) {
            error = failReason;
            return false;
        }
        files[path] = std::string(content);
        return true;
    }
    // Fails like a write does (and counts among the writes).
    bool append(const std::string& path, std::string_view text, std::string& error) override {
        ++writes;
        if (failAll || unwritable.contains(path) || (failOnWrite != 0 && writes == failOnWrite)) {
            error = failReason;
            return false;
        }
        files[path] += text;
        return true;
    }
    // The folder is always there (the Qt tests try a missing one on a real disk).
    bool folderExists(const std::string&) override { return true; }
    bool makeFolder(const std::string&, std::string&) override { return true; }

    std::map<std::string, std::string> files;
    std::set<std::string> unreadable;
    std::set<std::string> unwritable;
    bool failAll = false;
    int failOnWrite = 0;  // the Nth write (counted from 1) fails; 0: none
    int writes = 0;
    std::string failReason = "No space left on device";
};

// A main window wired to a full set of fakes, in the folder "/hunt/".
struct FakeRig {
    FakeSerialPort serial;
    FakeMessageBox messages;
    FakeColourPicker picker;
    FakeBeeper beeper;
    FakeClock clock;
    FakeFiles files;
    Platform platform{serial, messages, picker, beeper, clock, files};
    std::unique_ptr<Form_Kestrelmap> form = std::make_unique<Form_Kestrelmap>(platform, "/hunt/");

    Form_Kestrelmap& main() { return *form; }
    Form_Kestrelmap_Options& options() { return form->OptionsForm; }
    // A fresh window over the same platform, as at the next start of the program.
    Form_Kestrelmap& restart() {
        form = std::make_unique<Form_Kestrelmap>(platform, "/hunt/");
        return *form;
    }
};

}  // namespace kestrel::test
