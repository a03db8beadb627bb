#include "presets/formproviders.h"

FormProviders::FormProviders(QWidget* parent, const char* name, bool modal, Qt::WindowFlags flags)
    : QDialog(parent, flags)
{
    setObjectName(QString::fromLatin1(name ? name : "FormProviders"));
    setModal(modal);
    setupUi(this);
    languageChange();
    resize(QSize(302, 93).expandedTo(minimumSizeHint()));

    connect(buttonOK, &QPushButton::clicked, this, &QDialog::accept);
    connect(buttonCancel, &QPushButton::clicked, this, &QDialog::reject);
}

// The caption and the texts, in the context "FormProviders".
void FormProviders::languageChange()
{
    retranslateUi(this);
}
