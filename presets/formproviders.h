#pragma once
// FormProviders: the modal dialog that asks for the name of a new provider.
// The widgets come from formproviders.ui; the dialog takes the name as typed.
#include "ui_formproviders.h"   // generated from formproviders.ui

#include <QDialog>

class FormProviders : public QDialog, public Ui::FormProviders {
    Q_OBJECT

public:
    explicit FormProviders(QWidget* parent = nullptr, const char* name = nullptr, bool modal = false,
                           Qt::WindowFlags flags = {});

protected slots:
    virtual void languageChange();
};
