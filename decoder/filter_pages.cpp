#include "decoder/filter_pages.h"

#include "decoder/adapter.h"
#include "decoder/decoder.h"
#include "decoder/receive_lock.h"
#include "platform/qt/messagebox.h"
#include "ui_kestipdataform.h"

#include <QButtonGroup>
#include <QCoreApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpressionValidator>
#include <QTreeWidget>

namespace {

constexpr int kMinPid = 21, kMaxPid = 8190;
constexpr int kFirstListedPid = 20;

int textToInt(const QString& text, int base)
{
    bool ok = false;
    const int value = text.toInt(&ok, base);
    return ok ? value : 0;
}

// A selected PID's item: its number and kind beside the text ("1234", "1234 (ULE)").
constexpr int kPidRole = Qt::UserRole;
constexpr int kKindRole = Qt::UserRole + 1;

int pidOf(const QListWidgetItem& item)
{
    const QVariant pid = item.data(kPidRole);
    return pid.isValid() ? pid.toInt() : textToInt(item.text(), 10);
}

SlotKind kindOf(const QListWidgetItem& item) { return item.data(kKindRole).toInt() == SlotUle ? SlotUle : SlotMpe; }

} // namespace

FilterPages::FilterPages(QWidget* form, const Ui::KestIpDataForm& ui)
    : QObject(form),
      ui_(ui),
      mac_{ui.lineEditMAC0, ui.lineEditMAC1, ui.lineEditMAC2, ui.lineEditMAC3, ui.lineEditMAC4, ui.lineEditMAC5},
      ip_{ui.lineEditIP0, ui.lineEditIP1, ui.lineEditIP2, ui.lineEditIP3},
      seenSections_(kPidCount, 0),
      form_(form)
{
    // A click on the remove button must leave the focus on the list, or the
    // button would find the list unfocused and do nothing.
    ui.buttonRemovePid->setFocusPolicy(Qt::NoFocus);
    ui.buttonGroupFilter->setId(ui.radioButtonDefaultAddr, 0);
    ui.buttonGroupFilter->setId(ui.radioButtonMACAddr, 1);
    ui.buttonGroupFilter->setId(ui.radioButtonIPAddr, 2);
}

bool FilterPages::hasSlot(int pid) const
{
    return pid >= 0 && pid < kPidCount && decoderState().pidSlot[pid] != 0;
}

void FilterPages::markActive(int pid, bool active)
{
    for (int i = 0; i < ui_.listActivePids->topLevelItemCount(); ++i) {
        QTreeWidgetItem* row = ui_.listActivePids->topLevelItem(i);
        if (textToInt(row->text(0), 10) == pid)
            row->setText(1, active ? QCoreApplication::translate("KestIpDataForm", "Active") : QString());
    }
}

void FilterPages::addPid()
{
    if (ui_.lineEditPidValue->text().isEmpty())
        return;
    const int pid = textToInt(ui_.lineEditPidValue->text(), ui_.checkBoxHex->isChecked() ? 16 : 10);
    if (pid < kMinPid || pid > kMaxPid) {
        platform::qt::messageBox(form_, QMessageBox::Warning, QCoreApplication::translate("KestIpDataForm", "Error"),
                                 QCoreApplication::translate("KestIpDataForm", "Invalid PID input! Valid data is 21~8190 (Hex:0x15~0x1FFE)"));
        return;
    }
    if (hasSlot(pid))
        return;
    const SlotKind kind = ui_.checkBoxUle->isChecked() ? SlotUle : SlotMpe;
    {
        DecoderChange change;
        assignSlot(pid, kind);
    }
    if (!hasSlot(pid)) {
        // All slots taken: listing it would claim a PID that nothing decodes.
        platform::qt::messageBox(form_, QMessageBox::Warning, QCoreApplication::translate("KestIpDataForm", "Error"),
                                 QCoreApplication::translate("KestIpDataForm", "At most 15 PIDs can be decoded at once."));
        return;
    }
    select(pid, kind);
    markActive(pid, true);
}

void FilterPages::select(int pid, SlotKind kind)
{
    auto* item = new QListWidgetItem(kind == SlotUle ? QStringLiteral("%1 (ULE)").arg(pid) : QString::number(pid));
    item->setData(kPidRole, pid);
    item->setData(kKindRole, static_cast<int>(kind));
    ui_.listSelectedPids->addItem(item);
}

void FilterPages::removePid()
{
    if (!ui_.listSelectedPids->hasFocus())
        return;
    QListWidgetItem* current = ui_.listSelectedPids->currentItem();
    const int pid = current != nullptr ? pidOf(*current) : 0;
    if (pid >= 0 && pid < kPidCount) {
        DecoderChange change;
        releaseSlot(pid);
    }
    markActive(pid, false);
    delete current;
}

void FilterPages::installDecimalValidator()
{
    ui_.lineEditPidValue->setValidator(
            new QRegularExpressionValidator(QRegularExpression("[0-9][0-9][0-9][0-9][0-9]"), ui_.lineEditPidValue));
}

void FilterPages::hexChanged(int state)
{
    const QValidator* old = ui_.lineEditPidValue->validator();
    if (state == Qt::Checked) {
        const int value = textToInt(ui_.lineEditPidValue->text(), 10);
        ui_.lineEditPidValue->setValidator(new QRegularExpressionValidator(
            QRegularExpression("[0-9A-Fa-f][0-9A-Fa-f][0-9A-Fa-f][0-9A-Fa-f]"), ui_.lineEditPidValue));
        ui_.lineEditPidValue->setText(QString::number(value, 16).toUpper());
    } else {
        const int value = textToInt(ui_.lineEditPidValue->text(), 16);
        installDecimalValidator();
        ui_.lineEditPidValue->setText(QString::number(value));
    }
    delete old;
}

void FilterPages::loadPidList(const QString& stored, SlotKind kind)
{
    if (stored.isEmpty())
        return;
    for (const QString& line : stored.split('\n', Qt::SkipEmptyParts)) {
        bool ok = false;
        const int pid = line.trimmed().toInt(&ok, 10);
        // A PID stored twice is selected once: a second slot for it would be lost.
        if (!ok || pid < 0 || pid >= kPidCount || hasSlot(pid))
            continue;
        {
            DecoderChange change;
            assignSlot(pid, kind);
        }
        if (hasSlot(pid))
            select(pid, kind);
    }
}

QString FilterPages::storedPidList(SlotKind kind) const
{
    QString text;
    for (int i = 0; i < ui_.listSelectedPids->count(); ++i) {
        const QListWidgetItem& item = *ui_.listSelectedPids->item(i);
        if (kindOf(item) == kind)
            text += QString::number(pidOf(item)) + '\n';
    }
    return text;
}

void FilterPages::refreshActivePids()
{
    const DecoderState& s = decoderState();
    if (s.pidMpeSections == nullptr)
        return;
    for (int pid = kFirstListedPid; pid < kPidCount; ++pid) {
        const uint64_t sections = counterValue(s.pidMpeSections[pid]);
        if (seenSections_[pid] == 0 && sections != 0) {
            auto* row = new QTreeWidgetItem(ui_.listActivePids);
            row->setText(0, QString::number(pid));
            if (hasSlot(pid))
                row->setText(1, QCoreApplication::translate("KestIpDataForm", "Active"));
        }
        seenSections_[pid] = sections;
    }
}

void FilterPages::clearPidCounters()
{
    ui_.listActivePids->clear();
    {
        DecoderChange change;
        ::clearPidCounters();
    }
    std::fill(seenSections_.begin(), seenSections_.end(), 0);
}

void FilterPages::applyAddressFilter(const std::array<uint8_t, 6>& cardMac)
{
    DecoderState& s = decoderState();
    const int mode = ui_.buttonGroupFilter->checkedId();
    // The streaming thread reads macFilter for every section, and the adapter
    // writes its answer back into it.
    DecoderChange change;
    if (mode == 0) {
        std::copy(cardMac.begin(), cardMac.end(), s.macFilter);
    } else if (mode == 1) {
        for (int i = 0; i < 6; ++i)
            s.macFilter[i] = static_cast<uint8_t>(textToInt(mac_[i]->text(), 16));
    } else if (mode == 2) {
        s.macFilter[0] = 0;
        s.macFilter[1] = 0;
        for (int i = 0; i < 4; ++i)
            s.macFilter[2 + i] = static_cast<uint8_t>(textToInt(ip_[i]->text(), 10));
    }
    setAdapterAddress(s.adapterHandle, s.macFilter);
    clearPidCounters();
    resetErrorCounters();
}

void FilterPages::modeSelected(int id)
{
    for (QLineEdit* edit : mac_)
        edit->setEnabled(id == 1);
    for (QLineEdit* edit : ip_)
        edit->setEnabled(id == 2);
}
