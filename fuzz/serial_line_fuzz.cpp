// The serial line under attack: arbitrary bytes, cut into arbitrary chunks, reach the receive
// handler of a running hunt (both sources on the instrument, automatic plots every minute, map
// files written on every plot), interleaved with timer ticks and the operator's buttons. After
// every event the invariants of a running hunt must hold and every map document written must
// be well-formed.
//
// Message boxes are modal, as in the shell: while one is open the fuzzer may run a nested
// event loop in which serial events and the ticks of the other timers are handled (the shell
// defers a serial event that arrives inside the serial handler and drops a tick of the timer
// whose handler is waiting), until the box is answered.
//
// Input format: every byte is serial data except 0xFF, which starts a command: 0xFF 0xFF is a
// literal 0xFF; 0xFF 0xEx answers the open message box (x even: OK, odd: Cancel); 0xFF 0xDx
// asks to close the window (x even: the operator, odd: the session); any other 0xFF c runs
// command c % 16 (see command()). Data gathers in a chunk that a delivery command hands to the
// port; a chunk reaching 256 bytes and the end of the input deliver too. A plain text log of
// instrument lines is therefore a valid input.
//
// The inputs beside the COM line: 0xFF 0xCx hands the chunk to another input instead (x = 0:
// the GPS's own port, 1: the direction finder's own port, 2: gpsd's stream, 3: gpsd hangs up
// mid-line), 4 moves the clock on by a second (heading sentences go stale), 5 puts the source
// switches through the input router (GPS from gpsd, direction finder on its own port) or back
// on the COM line alone.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "instruments/gpsd_stream.h"
#include "instruments/input_routing.h"
#include "soak/hunt_checks.h"

using kestrel::Form_Kestrelmap;
using kestrel::MessageButtons;
using kestrel::MessageResult;
using kestrel::test::HardenRig;

namespace {

[[noreturn]] void fault(const std::string& what, const std::string& after) {
    std::fprintf(stderr, "\nINVARIANT BROKEN after %s: %s\n", after.c_str(), what.c_str());
    std::abort();
}

class Session;

// An own input that opens unless the fuzz input says otherwise.
class FuzzInput : public kestrel::instruments::InstrumentInput {
  public:
    bool open(std::string& reason) override {
        if (failing) {
            reason = "no such device";
            return false;
        }
        m_open = true;
        return true;
    }
    void close() override { m_open = false; }
    bool isOpen() const override { return m_open; }
    std::string where() const override { return "/dev/ttyUSB9"; }
    bool failing = false;

  private:
    bool m_open = false;
};

// A modal message box whose event loop the fuzz input drives.
class NestingMessageBox : public kestrel::MessageBox {
  public:
    explicit NestingMessageBox(Session& session) : m_session(session) {}
    MessageResult show(const std::string& text, const std::string& title, MessageButtons buttons,
                       bool cancelIsDefault) override;
    int shown = 0;

  private:
    Session& m_session;
};

class Session {
  public:
    Session(const uint8_t* data, size_t size) : m_data(data), m_size(size) {
        m_rig.serial.busyPorts = {2, 5};
        Form_Kestrelmap& f = m_rig.main();
        f.Form_Load();
        f.Form_Activate();
        f.CmdButton_POSIT_SOURCE_Click();  // GPS POS
        f.CmdButton_DF_SOURCE_Click();     // DF BRG
        f.CmdButton_TIMER_Click();         // automatic plots every minute
        check("start-up");
    }

    void runAll() {
        while (m_at < m_size && !m_unloaded) {
            step(false);
        }
        if (!m_unloaded) {
            deliver();
            tick(m_rig.main().Timer_TIMEOUT, &Form_Kestrelmap::Timer_TIMEOUT_Timer, m_inTimeout);
        }
    }

    // The nested event loop of a message box: events until the box is answered.
    MessageResult modalLoop(MessageButtons buttons) {
        if (m_depth >= 3) {
            return MessageResult::Ok;
        }
        ++m_depth;
        MessageResult answer = MessageResult::Ok;
        while (m_at < m_size) {
            if (const int a = step(true); a >= 0) {
                answer = (a == 1 && buttons == MessageButtons::OkCancel) ? MessageResult::Cancel
                                                                         : MessageResult::Ok;
                break;
            }
        }
        --m_depth;
        return answer;
    }

  private:
    NestingMessageBox m_box{*this};
    HardenRig m_rig{&m_box};
    const uint8_t* m_data;
    size_t m_size;
    size_t m_at = 0;
    int m_depth = 0;
    std::string m_chunk;
    bool m_inSerial = false, m_inTimeout = false, m_inBlink = false, m_inPlot = false;
    bool m_unloaded = false;

    kestrel::InputBuffer m_gpsBuffer{"GPS", kestrel::InputBuffer::Carries::Position};
    kestrel::InputBuffer m_dfBuffer{"DF", kestrel::InputBuffer::Carries::Bearing};
    kestrel::instruments::GpsdStream m_gpsd;
    FuzzInput m_gpsInput;
    FuzzInput m_dfInput;
    kestrel::instruments::InputRouter m_router{m_rig.main(), m_gpsInput, m_dfInput};
    kestrel::instruments::InputConfig m_config;
    bool m_routed = false;

    uint8_t next() { return m_at < m_size ? m_data[m_at++] : 0; }

    // The chunk to an input beside the COM line, or another event of those inputs.
    void otherInput(int which) {
        Form_Kestrelmap& f = m_rig.main();
        std::string chunk;
        chunk.swap(m_chunk);
        if (m_unloaded) {
            return;
        }
        switch (which) {
            case 0:
                deliverTo(m_gpsBuffer, chunk);
                return;
            case 1:
                deliverTo(m_dfBuffer, chunk);
                return;
            case 2:
                deliverTo(m_gpsBuffer, m_gpsd.take(chunk));
                return;
            case 3:
                m_gpsd.reset();
                m_gpsBuffer.clear();
                return;
            case 4:
                m_rig.clock.utcMs += 1000;
                return;
            case 5: {
                // As a new configuration whose inputs cannot all be reopened: sources manual,
                // every input closed, then the switches go the other way.
                f.positToManual();
                f.dfToManual();
                if (f.MSComm1.isOpen()) {
                    f.MSComm1.close();
                }
                m_router.switchInputs(false, false);
                m_routed = !m_routed;
                m_config.gps = kestrel::instruments::GpsFrom::Gpsd;
                m_config.df = kestrel::instruments::DfFrom::Serial;
                m_router.setConfig(m_config);
                m_dfInput.failing = chunk.size() % 2 == 1;
                f.setInputSwitch(m_routed ? &m_router : nullptr);
                check("a new input configuration");
                return;
            }
            default:
                return;
        }
    }

    void deliverTo(kestrel::InputBuffer& input, const std::string& text) {
        if (m_inSerial || text.empty()) {
            return;  // the shell frames one input's text at a time
        }
        m_inSerial = true;
        m_rig.main().receiveOn(input, text);
        m_inSerial = false;
        check("an own input");
    }

    // One byte of data or one command. In a nested loop only what a modal box lets through
    // runs; returns 0 (OK) or 1 (Cancel) when the box is answered, else -1.
    int step(bool nested) {
        const uint8_t b = next();
        if (b != 0xFF) {
            data(b);
            return -1;
        }
        if (m_at >= m_size) {
            return -1;
        }
        const uint8_t c = next();
        if (c == 0xFF) {
            data(0xFF);
        } else if ((c >> 4) == 0xE) {
            return nested ? (c & 1) : -1;
        } else if ((c >> 4) == 0xD) {
            close(c & 1);
        } else if ((c >> 4) == 0xC) {
            otherInput(c & 0xF);
        } else {
            command(c % 16, nested);
        }
        return -1;
    }

    void data(uint8_t byte) {
        m_chunk.push_back(static_cast<char>(byte));
        if (m_chunk.size() >= 256) {
            deliver();
        }
    }

    void command(int c, bool nested) {
        Form_Kestrelmap& f = m_rig.main();
        if (m_unloaded) {
            return;
        }
        switch (c) {
            case 0:
                deliver();
                return;
            case 1:
                deliver();
                if (!m_inSerial && f.MSComm1.isOpen()) {
                    m_inSerial = true;
                    f.MSComm1_OnComm();  // a line-state event straight to the handler
                    m_inSerial = false;
                    check("MSComm1_OnComm");
                }
                return;
            case 2:
                tick(f.Timer_TIMEOUT, &Form_Kestrelmap::Timer_TIMEOUT_Timer, m_inTimeout);
                return;
            case 3:
                tick(f.Timer_BLINK, &Form_Kestrelmap::Timer_BLINK_Timer, m_inBlink);
                return;
            case 4:
                tick(f.Timer_PLOT, &Form_Kestrelmap::Timer_PLOT_Timer, m_inPlot);
                return;
            case 5:
                for (int i = 0; i < 11; ++i) {
                    tick(f.Timer_TIMEOUT, &Form_Kestrelmap::Timer_TIMEOUT_Timer, m_inTimeout);
                }
                return;
            case 12:
                m_rig.files.failAll = !m_rig.files.failAll;  // the disk fails or recovers
                return;
            default:
                break;
        }
        if (nested) {
            return;  // the modal box keeps the operator's hands off the window
        }
        switch (c) {
            case 6: {
                int key = 32;
                f.Form_KeyDown(key, 0);
                check("space bar");
                break;
            }
            case 7:
                if (f.CmdButton_ADD_PLOT.Enabled) {
                    f.CmdButton_ADD_PLOT_Click();
                    check("ADD PLOT");
                }
                break;
            case 8:
                f.CmdButton_RANGE_Click();
                check("RANGE");
                break;
            case 9:
                if (f.CmdButton_TIMER.Enabled) {
                    f.CmdButton_TIMER_Click();
                    check("TIMER");
                }
                break;
            case 10:
                f.CmdButton_POSIT_SOURCE_Click();
                check("POSIT_SOURCE");
                break;
            case 11:
                f.CmdButton_DF_SOURCE_Click();
                check("DF_SOURCE");
                break;
            case 13:
                f.OptionsForm.CmdButton_COMM_PORT_Click();
                check("COMM PORT");
                break;
            case 14:
                entryButton(next());
                break;
            case 15:
                f.Form_Activate();
                check("activation");
                break;
        }
    }

    void deliver() {
        Form_Kestrelmap& f = m_rig.main();
        m_rig.serial.waiting += m_chunk;
        m_chunk.clear();
        if (!f.MSComm1.isOpen()) {
            m_rig.serial.waiting.clear();  // a closed port raises no events
            return;
        }
        if (m_inSerial || m_unloaded) {
            return;  // the shell takes it up when the running serial handler returns
        }
        m_inSerial = true;
        f.serialEvent();
        m_inSerial = false;
        check("serialEvent");
    }

    void tick(kestrel::Timer& timer, void (Form_Kestrelmap::*handler)(), bool& running) {
        if (!timer.Enabled || running || m_unloaded) {
            return;
        }
        if (handler == &Form_Kestrelmap::Timer_TIMEOUT_Timer) {
            kestrel::test::advanceClock(m_rig.clock.time, 1);
        }
        running = true;
        (m_rig.main().*handler)();
        running = false;
        check("a timer tick");
    }

    void close(bool bySession) {
        if (m_unloaded) {
            return;
        }
        Form_Kestrelmap& f = m_rig.main();
        const bool closed = f.requestClose(bySession ? kestrel::CloseReason::System
                                                     : kestrel::CloseReason::Operator);
        if (closed != f.Unloaded) {
            fault("requestClose answered " + std::to_string(closed) + " with Unloaded " +
                      std::to_string(f.Unloaded),
                  "a close request");
        }
        check("a close request");
        if (f.Unloaded) {
            m_unloaded = true;  // the shell stops every timer and event
        }
    }

    // One of the 34 entry buttons, pressed only when the operator could press it.
    void entryButton(uint8_t which) {
        using Handler = void (Form_Kestrelmap::*)();
        struct Entry {
            kestrel::Button Form_Kestrelmap::*button;
            Handler click;
        };
#define KESTREL_ENTRY(name) \
    { &Form_Kestrelmap::CmdButton_##name, &Form_Kestrelmap::CmdButton_##name##_Click }
        static const Entry kEntries[] = {
            KESTREL_ENTRY(LAT_DEGX10_UP),   KESTREL_ENTRY(LAT_DEGX10_DN),
            KESTREL_ENTRY(LAT_DEGX1_UP),    KESTREL_ENTRY(LAT_DEGX1_DN),
            KESTREL_ENTRY(LAT_MINX10_UP),   KESTREL_ENTRY(LAT_MINX10_DN),
            KESTREL_ENTRY(LAT_MINX1_UP),    KESTREL_ENTRY(LAT_MINX1_DN),
            KESTREL_ENTRY(LAT_MINX01_UP),   KESTREL_ENTRY(LAT_MINX01_DN),
            KESTREL_ENTRY(LAT_MINX001_UP),  KESTREL_ENTRY(LAT_MINX001_DN),
            KESTREL_ENTRY(LONG_DEGX100_UP), KESTREL_ENTRY(LONG_DEGX100_DN),
            KESTREL_ENTRY(LONG_DEGX10_UP),  KESTREL_ENTRY(LONG_DEGX10_DN),
            KESTREL_ENTRY(LONG_DEGX1_UP),   KESTREL_ENTRY(LONG_DEGX1_DN),
            KESTREL_ENTRY(LONG_MINX10_UP),  KESTREL_ENTRY(LONG_MINX10_DN),
            KESTREL_ENTRY(LONG_MINX1_UP),   KESTREL_ENTRY(LONG_MINX1_DN),
            KESTREL_ENTRY(LONG_MINX01_UP),  KESTREL_ENTRY(LONG_MINX01_DN),
            KESTREL_ENTRY(LONG_MINX001_UP), KESTREL_ENTRY(LONG_MINX001_DN),
            KESTREL_ENTRY(BRGX100_UP),      KESTREL_ENTRY(BRGX100_DN),
            KESTREL_ENTRY(BRGX10_UP),       KESTREL_ENTRY(BRGX10_DN),
            KESTREL_ENTRY(BRGX1_UP),        KESTREL_ENTRY(BRGX1_DN),
            KESTREL_ENTRY(LAT_HEMI),        KESTREL_ENTRY(LONG_HEMI),
        };
#undef KESTREL_ENTRY
        Form_Kestrelmap& f = m_rig.main();
        const Entry& e = kEntries[which % (sizeof kEntries / sizeof kEntries[0])];
        if ((f.*(e.button)).Enabled) {
            (f.*(e.click))();
            check("an entry button");
        }
    }

    void check(const char* after) {
        Form_Kestrelmap& f = m_rig.main();
        kestrel::test::CheckOptions options;
        if (m_routed) {
            m_router.closeUnneeded();  // as the shell does after every event
            options.inputs = &m_config;
            const auto need = kestrel::instruments::neededInputs(
                m_config, f.CmdButton_POSIT_SOURCE.Tag == "GPS", f.CmdButton_DF_SOURCE.Tag == "DF");
            if (need.gps != m_gpsInput.isOpen() || need.df != m_dfInput.isOpen()) {
                fault("own inputs open " + std::to_string(m_gpsInput.isOpen()) +
                          std::to_string(m_dfInput.isOpen()) + " with sources " +
                          f.CmdButton_POSIT_SOURCE.Tag + "/" + f.CmdButton_DF_SOURCE.Tag,
                      after);
            }
        }
        if (std::string p = kestrel::test::huntProblem(f, options); !p.empty()) {
            fault(p, after);
        }
        if (!m_rig.files.faults.empty()) {
            fault(m_rig.files.faults.front(), after);
        }
        // After a good write both hunt files hold every plot in memory.
        if (std::string p = m_rig.mapFilesProblem(); !p.empty()) {
            fault(p, after);
        }
        if (m_box.shown > 64) {
            fault("more than 64 message boxes", after);
        }
    }
};

MessageResult NestingMessageBox::show(const std::string&, const std::string&,
                                      MessageButtons buttons, bool) {
    ++shown;
    return m_session.modalLoop(buttons);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Session session(data, size);
    session.runAll();
    return 0;
}
