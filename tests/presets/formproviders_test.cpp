// The name dialog of a new provider: its widgets as the main window and the
// translation expect them, and how it closes.
#include "presets/formproviders.h"
#include "tests/offscreen_app.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QGridLayout>
#include <QMetaMethod>
#include <QSpacerItem>
#include <QTest>
#include <QTranslator>

namespace {

const auto* const qtEnvironment = ::testing::AddGlobalTestEnvironment(new OffscreenApplication("presets_form_tests"));

void expectMargins(QLayout* layout, int margin, int spacing)
{
    ASSERT_NE(layout, nullptr);
    const QMargins m = layout->contentsMargins();
    EXPECT_EQ(m, QMargins(margin, margin, margin, margin)) << qPrintable(layout->objectName());
    auto* grid = qobject_cast<QGridLayout*>(layout);
    ASSERT_NE(grid, nullptr) << qPrintable(layout->objectName());
    EXPECT_EQ(grid->horizontalSpacing(), spacing);
    EXPECT_EQ(grid->verticalSpacing(), spacing);
}

TEST(FormProviders, NamesTextsLayoutAndSize)
{
    FormProviders dialog;
    EXPECT_EQ(dialog.objectName(), "FormProviders");
    EXPECT_EQ(dialog.windowTitle(), "New");
    EXPECT_FALSE(dialog.isModal());
    EXPECT_EQ(FormProviders(nullptr, "New", true).objectName(), "New");
    EXPECT_TRUE(FormProviders(nullptr, "New", true).isModal());

    auto* top = dialog.findChild<QGridLayout*>("FormProvidersLayout");
    ASSERT_EQ(dialog.layout(), top);
    expectMargins(top, 11, 6);
    auto* inner = dialog.findChild<QGridLayout*>("layout10");
    expectMargins(inner, 0, 6);

    EXPECT_EQ(dialog.textLabelProviders->text(), "Provider:");
    EXPECT_TRUE(dialog.lineEditProvName->hasFrame());
    EXPECT_TRUE(dialog.lineEditProvName->text().isEmpty());
    EXPECT_EQ(dialog.buttonOK->text(), "OK");
    EXPECT_EQ(dialog.buttonCancel->text(), "Cancel");
    const QWidget* rows[] = {dialog.textLabelProviders, dialog.lineEditProvName};
    for (int row = 0; row < 2; ++row) {
        int r = -1, c = -1, rs = 0, cs = 0;
        top->getItemPosition(top->indexOf(const_cast<QWidget*>(rows[row])), &r, &c, &rs, &cs);
        EXPECT_EQ(r, row);
        EXPECT_EQ(c, 0);
    }
    EXPECT_EQ(top->itemAtPosition(2, 0)->layout(), inner);

    QSpacerItem* spacer = inner->itemAtPosition(0, 0)->spacerItem();
    ASSERT_NE(spacer, nullptr);
    EXPECT_EQ(spacer->sizeHint(), QSize(40, 20));
    EXPECT_EQ(spacer->sizePolicy().horizontalPolicy(), QSizePolicy::Expanding);
    EXPECT_EQ(inner->itemAtPosition(0, 1)->widget(), dialog.buttonOK);
    EXPECT_EQ(inner->itemAtPosition(0, 2)->widget(), dialog.buttonCancel);

    EXPECT_EQ(dialog.size(), QSize(302, 93).expandedTo(dialog.minimumSizeHint()));

    // One slot of its own.
    const QMetaObject& meta = FormProviders::staticMetaObject;
    QStringList slotNames;
    for (int i = meta.methodOffset(); i < meta.methodCount(); ++i)
        if (meta.method(i).methodType() == QMetaMethod::Slot)
            slotNames << QString::fromLatin1(meta.method(i).methodSignature());
    EXPECT_EQ(slotNames, QStringList{"languageChange()"});
}

TEST(FormProviders, OkAcceptsAndCancelRejectsWhateverTheName)
{
    for (const QString& name : {QString(), QStringLiteral("  Alpha 19E ")}) {
        FormProviders dialog(nullptr, "New", true);
        dialog.show();
        QTest::keyClicks(dialog.lineEditProvName, name);
        dialog.buttonOK->click();
        EXPECT_EQ(dialog.result(), QDialog::Accepted);
        EXPECT_FALSE(dialog.isVisible());
        EXPECT_EQ(dialog.lineEditProvName->text(), name) << "taken as typed";
    }
    FormProviders dialog;
    dialog.show();
    dialog.buttonCancel->click();
    EXPECT_EQ(dialog.result(), QDialog::Rejected);

    // Return in the name field is the OK button.
    FormProviders typed;
    typed.show();
    QTest::keyClicks(typed.lineEditProvName, "Beta");
    QTest::keyClick(typed.lineEditProvName, Qt::Key_Return);
    EXPECT_EQ(typed.result(), QDialog::Accepted);
}

TEST(FormProviders, RussianTexts)
{
    QTranslator russian;
    ASSERT_TRUE(russian.load("KestIPData_ru", QString(KEST_BIN_DIR) + "/Translations"));
    QApplication::installTranslator(&russian);
    {
        FormProviders dialog;
        EXPECT_EQ(dialog.windowTitle(), QString::fromUtf8("Новый"));
        EXPECT_EQ(dialog.textLabelProviders->text(), QString::fromUtf8("Провайдер:"));
        EXPECT_EQ(dialog.buttonCancel->text(), QString::fromUtf8("Отмена"));
    }
    QApplication::removeTranslator(&russian);
    EXPECT_EQ(FormProviders().textLabelProviders->text(), "Provider:");
}

} // namespace
