// The serial line under attack: arbitrary bytes, cut into arbitrary chunks, reach the receive
// handler of a running hunt (both sources on the instrument, automatic plots every minute, map
// files written on every plot), interleaved with timer ticks and the operator's buttons. After
// every event the invariants of a running hunt must hold and every map document written must
// be well-formed.
//
// Input format: every byte is serial data except 0xFF, which starts a two-byte command:
// 0xFF 0xFF is a literal 0xFF; 0xFF c runs command c % 16 (see run()). Data gathers in a chunk
// that a delivery command hands to the port; a chunk reaching 256 bytes and the end of the
// input deliver too. A plain text log of instrument lines is therefore a valid input.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "soak/hunt_checks.h"

using kestrel::Form_Kestrelmap;
using kestrel::test::HardenRig;

namespace {

[[noreturn]] void fault(const std::string& what, const std::string& after) {
    std::fprintf(stderr, "\nINVARIANT BROKEN after %s: %s\n", after.c_str(), what.c_str());
    std::abort();
}

class Session {
  public:
    Session() {
        Form_Kestrelmap& f = m_rig.main();
        f.Form_Load();
        f.Form_Activate();
        f.CmdButton_POSIT_SOURCE_Click();  // GPS POS
        f.CmdButton_DF_SOURCE_Click();     // DF BRG
        f.CmdButton_TIMER_Click();         // automatic plots every minute
        check("start-up");
    }

    void data(uint8_t byte) {
        m_chunk.push_back(static_cast<char>(byte));
        if (m_chunk.size() >= 256) {
            deliver(true);
        }
    }

    void run(uint8_t command, uint8_t argument) {
        Form_Kestrelmap& f = m_rig.main();
        switch (command % 16) {
            case 0:
                deliver(true);
                break;
            case 1:
                deliver(false);
                break;
            case 2:
                tickTimeout(1);
                break;
            case 3:
                if (f.Timer_BLINK.Enabled) {
                    f.Timer_BLINK_Timer();
                    check("Timer_BLINK");
                }
                break;
            case 4:
                if (f.Timer_PLOT.Enabled) {
                    f.Timer_PLOT_Timer();
                    check("Timer_PLOT");
                }
                break;
            case 5:
                tickTimeout(11);
                break;
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
            case 12:
                f.serialEvent();  // a line-state event: nothing waiting
                check("empty port event");
                break;
            case 13:
                f.OptionsForm.CmdButton_COMM_PORT_Click();
                check("COMM PORT");
                break;
            case 14:
                entryButton(argument);
                break;
            case 15:
                // The disk fails (or recovers): the hunt goes on either way.
                m_rig.files.failAll = !m_rig.files.failAll;
                break;
        }
    }

    void finish() {
        deliver(true);
        tickTimeout(1);
    }

  private:
    HardenRig m_rig;
    std::string m_chunk;

    void deliver(bool lineRate) {
        Form_Kestrelmap& f = m_rig.main();
        m_rig.serial.waiting += m_chunk;
        m_chunk.clear();
        if (!f.MSComm1.isOpen()) {
            m_rig.serial.waiting.clear();  // a closed port raises no events
            return;
        }
        if (lineRate) {
            f.serialEvent();
        } else {
            f.MSComm1_OnComm();
        }
        check(lineRate ? "serialEvent" : "MSComm1_OnComm");
    }

    void tickTimeout(int seconds) {
        Form_Kestrelmap& f = m_rig.main();
        for (int i = 0; i < seconds; ++i) {
            kestrel::test::advanceClock(m_rig.clock.time, 1);
            f.Timer_TIMEOUT_Timer();
            check("Timer_TIMEOUT");
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
        if (std::string p = kestrel::test::huntProblem(f); !p.empty()) {
            fault(p, after);
        }
        if (!m_rig.files.faults.empty()) {
            fault(m_rig.files.faults.front(), after);
        }
        // After a good write both hunt files hold every plot in memory.
        if (std::string p = m_rig.mapFilesProblem(); !p.empty()) {
            fault(p, after);
        }
        if (m_rig.messages.shown.size() > 64) {
            fault("more than 64 message boxes", after);
        }
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Session session;
    for (size_t i = 0; i < size; ++i) {
        if (data[i] != 0xFF) {
            session.data(data[i]);
        } else if (i + 1 < size && data[i + 1] == 0xFF) {
            session.data(0xFF);
            ++i;
        } else if (i + 1 < size) {
            const uint8_t command = data[i + 1];
            const uint8_t argument = i + 2 < size ? data[i + 2] : 0;
            session.run(command, argument);
            i += (command % 16 == 14) ? 2 : 1;
        }
    }
    session.finish();
    return 0;
}
