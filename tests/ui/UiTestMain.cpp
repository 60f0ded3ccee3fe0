// One QApplication for all cases of a dialog test program.
#include <gtest/gtest.h>

#include <QApplication>

#include "ui/Mnemonics.h"

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen"
                                                                     : qgetenv("QT_QPA_PLATFORM"));
    QApplication app(argc, argv);
    miravo::ui::AssignMnemonicsOnShow(app);  // as the program does
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
