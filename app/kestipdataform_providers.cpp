// The provider presets of the main window: storing the reception setup under
// a name, overwriting and deleting a provider, and loading one into the
// tuning, LNB and DiSEqC pages.
#include "app/kestipdataform.h"

#include "platform/qt/messagebox.h"
#include "presets/formproviders.h"
#include "presets/provider_table.h"
#include "tuner/device_catalogue.h"
#include "tuner/tuning_panel.h"

namespace {

// A file edited by hand may hold an index the list lacks: keep the current
// item rather than leave none, which a later New or Set would store or send.
void setItem(QComboBox* combo, int index)
{
    if (index >= 0 && index < combo->count())
        combo->setCurrentIndex(index);
}

} // namespace

// The tuning as last applied, not as typed; LNB and DiSEqC as shown.
ProviderRecord KestIpDataForm::providerFromPanels() const
{
    ProviderRecord r;
    if (tuningPanel != nullptr) {
        r.frequency = tuningPanel->currentFrequency;
        r.polarisation = tuningPanel->currentPolarisation ? 1 : 0;
        r.symbolRate = tuningPanel->currentSymbolRate;
        r.modulation = tuningPanel->currentModulation;
        r.fec = tuningPanel->currentFec;
        r.streamId = tuningPanel->currentStreamId;
        r.plsMode = tuningPanel->currentPlsMode;
        r.plsCode = tuningPanel->currentPlsCode;
        r.bbFrames = tuningPanel->currentBasebandFrames;
    }
    r.lnbType = lnbTypeComboBox->currentIndex();
    r.lof1 = lineEditLOF1->text().toInt(nullptr, 10); // 0 when not a number
    r.lof2 = lineEditLOF2->text().toInt(nullptr, 10);
    r.lofSwitch = lineEditSwitch->text().toInt(nullptr, 10);
    r.diseqc10 = groupBoxDiSEqC1_0->isChecked();
    r.multiOption = comboBoxDiSEqC10->currentIndex();
    r.repeatCount = spinBoxTXCount->value();
    r.gapTime = spinBoxGap->value();
    r.diseqc12 = groupBoxDiSEqC1_2->isChecked();
    r.position = lineEditGoto->text();
    r.txCount = spinBoxTXCountMotor->value();
    r.raw = groupBoxRAW->isChecked();
    const QLineEdit* const raws[] = {RAW0, RAW1, RAW2, RAW3, RAW4, RAW5};
    for (int i = 0; i < 6; ++i)
        r.rawCommands[i] = raws[i]->text();
    return r;
}

void KestIpDataForm::showProvider(const ProviderRecord& r)
{
    lineEditFreq->setText(QString::number(r.frequency));
    setItem(comboBoxPolarisation, r.polarisation);
    lineEditSmbRate->setText(QString::number(r.symbolRate));
    // Only the Cedar offers a choice of modulation and FEC.
    const bool choice = tuner::modulationAndFecSelectable(modelId);
    setItem(comboBoxModulation, choice ? r.modulation : 0);
    setItem(comboBoxFEC, choice ? r.fec : 0);
    if (tuningPanel != nullptr)
        tuningPanel->showStream(r.streamId >= -1 && r.streamId <= 255 ? r.streamId : -1, r.plsMode, r.plsCode,
                                r.bbFrames);
    // The type's presets first; the stored frequencies overwrite them.
    setItem(lnbTypeComboBox, r.lnbType);
    if (r.lnbType == lnbTypeComboBox->currentIndex())
        lnbTypeComboBox_activated(r.lnbType);
    lineEditLOF1->setText(QString::number(r.lof1));
    lineEditLOF2->setText(QString::number(r.lof2));
    lineEditSwitch->setText(QString::number(r.lofSwitch));
    groupBoxDiSEqC1_0->setChecked(r.diseqc10);
    setItem(comboBoxDiSEqC10, r.multiOption);
    spinBoxTXCount->setValue(r.repeatCount);
    spinBoxGap->setValue(r.gapTime);
    groupBoxDiSEqC1_2->setChecked(r.diseqc12);
    lineEditGoto->setText(r.position);
    spinBoxTXCountMotor->setValue(r.txCount);
    groupBoxRAW->setChecked(r.raw);
    QLineEdit* const raws[] = {RAW0, RAW1, RAW2, RAW3, RAW4, RAW5};
    for (int i = 0; i < 6; ++i)
        raws[i]->setText(r.rawCommands[i]);
}

void KestIpDataForm::saveProviders()
{
    if (providers == nullptr)
        return;
    // The table keeps the change either way; the user must know it is not on disk.
    if (!saveProviderFile(*providers))
        platform::qt::messageBox(this, QMessageBox::Warning, tr("Error"),
                                 tr("The providers could not be saved to %1.")
                                     .arg(QString::fromLatin1(kProvidersFileName)));
}

// The row of the current provider item once the user has said Yes to the
// question about it; -1 when no provider is selected or the answer is No.
int KestIpDataForm::confirmedProviderRow(const QString& caption, const QString& text)
{
    const int row = comboBoxProviders->currentIndex() - 1;
    if (providers == nullptr || row < 0 || row >= providers->size())
        return -1;
    const QMessageBox::StandardButton answer =
        platform::qt::messageBox(this, QMessageBox::Question, caption, text.arg(providers->names[row]),
                                 QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes);
    return answer == QMessageBox::Yes ? row : -1;
}

void KestIpDataForm::buttonNew_clicked()
{
    if (providers == nullptr)
        return;
    FormProviders dialog(this, "New", true); // lives for this one question
    dialog.setWindowTitle(tr("New"));
    if (dialog.exec() != QDialog::Accepted)
        return;
    ProviderRecord record = providerFromPanels();
    record.name = dialog.lineEditProvName->text();
    providers->append(record);
    comboBoxProviders->addItem(record.name);
    saveProviders();
}

void KestIpDataForm::buttonEdit_clicked()
{
    const int row = confirmedProviderRow(tr("Update Provider?"), tr("Update Provider [%1]"));
    if (row < 0)
        return;
    ProviderRecord record = providerFromPanels();
    record.name = providers->names[row];
    providers->overwrite(row, record);
    saveProviders();
}

void KestIpDataForm::buttonRemove_clicked()
{
    const int row = confirmedProviderRow(tr("Delete Provider?"), tr("Delete Provider [%1]"));
    if (row < 0)
        return;
    providers->remove(row);
    comboBoxProviders->removeItem(row + 1);
    saveProviders();
    comboBoxProviders->setCurrentIndex(0);
    buttonEdit->setEnabled(false);
    buttonRemove->setEnabled(false);
}

void KestIpDataForm::comboBoxProviders_activated(int prov)
{
    if (prov <= 0) {
        buttonEdit->setEnabled(false);
        buttonRemove->setEnabled(false);
        return;
    }
    buttonEdit->setEnabled(true);
    buttonRemove->setEnabled(true);
    if (providers != nullptr && prov - 1 < providers->size())
        showProvider(providers->record(prov - 1));
}
