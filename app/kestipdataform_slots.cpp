// The Set button. The other slots live next to the parts they drive: the
// tuner and filter pages in kestipdataform_receiver.cpp, the providers in
// kestipdataform_providers.cpp.
#include "app/kestipdataform.h"

void KestIpDataForm::buttonSet_clicked()
{
    applyTuning(true);
}
