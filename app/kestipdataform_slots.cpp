// Slots of the main window whose work lives with the tuner, the filters and
// the presets. Until those are wired in they accept their signals and do
// nothing.
#include "app/kestipdataform.h"


void KestIpDataForm::buttonSet_clicked()
{
    applyTuning(true);
}

void KestIpDataForm::buttonNew_clicked() {}
void KestIpDataForm::buttonEdit_clicked() {}
void KestIpDataForm::buttonRemove_clicked() {}
void KestIpDataForm::comboBoxProviders_activated(int) {}
