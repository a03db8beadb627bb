// The main window's widgets alone: its uic class set up on a bare dialog, for
// the tests of the parts that drive the window's pages.
#pragma once

#include "ui_kestipdataform.h"

#include <QApplication>
#include <QDialog>

struct FormUi {
    // Takes the application, which must exist before the first widget.
    explicit FormUi(QApplication&) { ui.setupUi(&widget); }
    QDialog widget;
    Ui::KestIpDataForm ui;
};
