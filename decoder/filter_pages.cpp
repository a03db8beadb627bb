#include "decoder/filter_pages.h"

#include "decoder/adapter.h"
#include "decoder/decoder.h"
#include "decoder/receive_lock.h"
#include "platform/qt/messagebox.h"

#include <QButtonGroup>
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

} // namespace

FilterPages::FilterPages(QWidget* form)
    : QObject(form),
      pidValue_(form->findChild<QLineEdit*>("lineEditPidValue")),
      hex_(form->findChild<QCheckBox*>("checkBoxHex")),
      addButton_(form->findChild<QPushButton*>("buttonAddPid")),
      removeButton_(form->findChild<QPushButton*>("buttonRemovePid")),
      selected_(form->findChild<QListWidget*>("listSelectedPids")),
      active_(form->findChild<QTreeWidget*>("listActivePids")),
      modes_(form->findChild<QButtonGroup*>("buttonGroupFilter")),
      seenSections_(kPidCount, 0),
      form_(form)
{
    for (int i = 0; i < 6; ++i)
        mac_[i] = form->findChild<QLineEdit*>(QString("lineEditMAC%1").arg(i));
    for (int i = 0; i < 4; ++i)
        ip_[i] = form->findChild<QLineEdit*>(QString("lineEditIP%1").arg(i));
    // A click on the remove button must leave the focus on the list, or the
    // button would find the list unfocused and do nothing.
    if (removeButton_ != nullptr)
        removeButton_->setFocusPolicy(Qt::NoFocus);
    if (modes_ != nullptr) {
        const char* names[] = {"radioButtonDefaultAddr", "radioButtonMACAddr", "radioButtonIPAddr"};
        for (int id = 0; id < 3; ++id)
            if (auto* button = form->findChild<QRadioButton*>(names[id]))
                modes_->setId(button, id);
    }
}

bool FilterPages::hasSlot(int pid) const
{
    return pid >= 0 && pid < kPidCount && decoderState().pidSlot[pid] != 0;
}

void FilterPages::markActive(int pid, bool active)
{
    if (active_ == nullptr)
        return;
    for (int i = 0; i < active_->topLevelItemCount(); ++i) {
        QTreeWidgetItem* row = active_->topLevelItem(i);
        if (textToInt(row->text(0), 10) == pid)
            row->setText(1, active ? QStringLiteral("Active") : QString());
    }
}

void FilterPages::addPid()
{
    if (pidValue_ == nullptr || pidValue_->text().isEmpty())
        return;
    const int pid = textToInt(pidValue_->text(), hex_ != nullptr && hex_->isChecked() ? 16 : 10);
    if (pid < kMinPid || pid > kMaxPid) {
        platform::qt::messageBox(form_, QMessageBox::Warning, "Error",
                                 "Invalid PID input! Valid data is 21~8190 (Hex:0x15~0x1FFE)");
        return;
    }
    if (hasSlot(pid))
        return;
    {
        DecoderChange change;
        assignSlot(pid);
    }
    if (!hasSlot(pid)) {
        // All slots taken: listing it would claim a PID that nothing decodes.
        platform::qt::messageBox(form_, QMessageBox::Warning, "Error", "At most 15 PIDs can be decoded at once.");
        return;
    }
    if (selected_ != nullptr)
        selected_->addItem(QString::number(pid));
    markActive(pid, true);
}

void FilterPages::removePid()
{
    if (selected_ == nullptr || !selected_->hasFocus())
        return;
    QListWidgetItem* current = selected_->currentItem();
    const int pid = current != nullptr ? textToInt(current->text(), 10) : 0;
    if (pid >= 0 && pid < kPidCount) {
        DecoderChange change;
        releaseSlot(pid);
    }
    markActive(pid, false);
    delete current;
}

void FilterPages::installDecimalValidator()
{
    if (pidValue_ != nullptr)
        pidValue_->setValidator(
            new QRegularExpressionValidator(QRegularExpression("[0-9][0-9][0-9][0-9][0-9]"), pidValue_));
}

void FilterPages::hexChanged(int state)
{
    if (pidValue_ == nullptr)
        return;
    const QValidator* old = pidValue_->validator();
    if (state == Qt::Checked) {
        const int value = textToInt(pidValue_->text(), 10);
        pidValue_->setValidator(new QRegularExpressionValidator(
            QRegularExpression("[0-9A-Fa-f][0-9A-Fa-f][0-9A-Fa-f][0-9A-Fa-f]"), pidValue_));
        pidValue_->setText(QString::number(value, 16).toUpper());
    } else {
        const int value = textToInt(pidValue_->text(), 16);
        installDecimalValidator();
        pidValue_->setText(QString::number(value));
    }
    delete old;
}

void FilterPages::loadPidList(const QString& stored)
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
            assignSlot(pid);
        }
        if (hasSlot(pid) && selected_ != nullptr)
            selected_->addItem(QString::number(pid));
    }
}

QString FilterPages::storedPidList() const
{
    QString text;
    if (selected_ != nullptr)
        for (int i = 0; i < selected_->count(); ++i)
            text += selected_->item(i)->text() + '\n';
    return text;
}

void FilterPages::refreshActivePids()
{
    const DecoderState& s = decoderState();
    if (s.pidMpeSections == nullptr)
        return;
    for (int pid = kFirstListedPid; pid < kPidCount; ++pid) {
        const uint64_t sections = counterValue(s.pidMpeSections[pid]);
        if (seenSections_[pid] == 0 && sections != 0 && active_ != nullptr) {
            auto* row = new QTreeWidgetItem(active_);
            row->setText(0, QString::number(pid));
            if (hasSlot(pid))
                row->setText(1, QStringLiteral("Active"));
        }
        seenSections_[pid] = sections;
    }
}

void FilterPages::clearPidCounters()
{
    if (active_ != nullptr)
        active_->clear();
    {
        DecoderChange change;
        ::clearPidCounters();
    }
    std::fill(seenSections_.begin(), seenSections_.end(), 0);
}

void FilterPages::applyAddressFilter(const std::array<uint8_t, 6>& cardMac)
{
    DecoderState& s = decoderState();
    const int mode = modes_ != nullptr ? modes_->checkedId() : -1;
    // The streaming thread reads macFilter for every section, and the adapter
    // writes its answer back into it.
    DecoderChange change;
    if (mode == 0) {
        std::copy(cardMac.begin(), cardMac.end(), s.macFilter);
    } else if (mode == 1) {
        for (int i = 0; i < 6; ++i)
            s.macFilter[i] = static_cast<uint8_t>(mac_[i] != nullptr ? textToInt(mac_[i]->text(), 16) : 0);
    } else if (mode == 2) {
        s.macFilter[0] = 0;
        s.macFilter[1] = 0;
        for (int i = 0; i < 4; ++i)
            s.macFilter[2 + i] = static_cast<uint8_t>(ip_[i] != nullptr ? textToInt(ip_[i]->text(), 10) : 0);
    }
    setAdapterAddress(s.adapterHandle, s.macFilter);
    clearPidCounters();
    resetErrorCounters();
}

void FilterPages::modeSelected(int id)
{
    for (QLineEdit* edit : mac_)
        if (edit != nullptr)
            edit->setEnabled(id == 1);
    for (QLineEdit* edit : ip_)
        if (edit != nullptr)
            edit->setEnabled(id == 2);
}
