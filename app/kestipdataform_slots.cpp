// Slots of the main window whose work lives with the tuner, the filters and
// the presets. Until those are wired in they accept their signals and do
// nothing.
#include "app/kestipdataform.h"

void KestIpDataForm::applyTuning(bool /*fromWidgets*/) {}

void KestIpDataForm::buttonSet_clicked()
{
    applyTuning(true);
}

void KestIpDataForm::lnbTypeComboBox_activated(int) {}
void KestIpDataForm::buttonPower_toggled(bool) {}
void KestIpDataForm::framePowerSetOn(bool) {}
void KestIpDataForm::buttonAddPid_clicked() {}
void KestIpDataForm::checkBoxHex_stateChanged(int) {}
void KestIpDataForm::buttonRemovePid_clicked() {}
void KestIpDataForm::radioButtonDefaultAddr_clicked() {}
void KestIpDataForm::radioButtonMACAddr_clicked() {}
void KestIpDataForm::radioButtonIPAddr_clicked() {}
void KestIpDataForm::buttonNew_clicked() {}
void KestIpDataForm::buttonEdit_clicked() {}
void KestIpDataForm::buttonRemove_clicked() {}
void KestIpDataForm::comboBoxProviders_activated(int) {}

void KestIpDataForm::timerEvent(QTimerEvent*) {}
