// The main window's PID and address filter pages: adding and removing the
// PIDs the decoder reassembles, the list of PIDs seen carrying MPE, and the
// station address the sections must carry.
//
// Works on the main window's widgets (Ui::KestIpDataForm).
// Every change of decoder slots or counters holds the receive lock.
#pragma once

#include "decoder/decoder.h"

#include <QObject>
#include <QString>

#include <array>
#include <cstdint>
#include <vector>

class QLineEdit;
class QWidget;
namespace Ui {
class KestIpDataForm;
}

class FilterPages : public QObject {
    Q_OBJECT
public:
    static constexpr int kMaxDecodedPids = 15;

    FilterPages(QWidget* form, const Ui::KestIpDataForm& ui);

    // buttonAddPid_clicked: validates the typed PID (21..8190), selects it
    // once, as carrying ULE when checkBoxUle is checked (listed as "N (ULE)");
    // a PID beyond the 15 slots is refused with a warning.
    void addPid();
    // buttonRemovePid_clicked: removes the current item while the list has
    // the focus (the remove button takes no focus, so a click keeps it).
    void removePid();
    // checkBoxHex_stateChanged: converts the typed PID and swaps the validator.
    void hexChanged(int state);
    void installDecimalValidator();

    // The stored "Settings/ActivePIDs" text, one decimal PID per line: the
    // MPE PIDs. The ULE PIDs are kept apart ("Settings/ULEPIDs", same form),
    // so that a version without ULE reads the MPE ones as before.
    void loadPidList(const QString& stored, SlotKind kind = SlotMpe);
    QString storedPidList(SlotKind kind = SlotMpe) const;

    // Adds rows for PIDs 20..8191 whose MPE section count became non-zero.
    void refreshActivePids();
    // Empties the seen list and zeroes the per-PID counters.
    void clearPidCounters();

    // The address step of a tuning: macFilter by the selected mode, the
    // adapter told, PID and error counters restarted.
    void applyAddressFilter(const std::array<uint8_t, 6>& cardMac);
    // radioButton*Addr_clicked: enables the line edits of mode `id`.
    void modeSelected(int id);

private:
    void select(int pid, SlotKind kind);
    void markActive(int pid, bool active);
    bool hasSlot(int pid) const;

    const Ui::KestIpDataForm& ui_;
    std::array<QLineEdit*, 6> mac_;
    std::array<QLineEdit*, 4> ip_;
    std::vector<uint64_t> seenSections_;
    QWidget* form_;
};
