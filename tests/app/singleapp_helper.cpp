// Second start of a program for the QtSingleApplication tests:
//   singleapp_test_helper ID MESSAGE  prints "sent 0|1", then "listening 0|1".
#include "app/qtsingleapplication.h"

#include <cstdio>

int main(int argc, char** argv)
{
    if (argc != 3)
        return 2;
    const QString id = QString::fromLocal8Bit(argv[1]);
    const QString message = QString::fromUtf8(argv[2]);
    QtSingleApplication app(id, argc, argv);
    std::printf("sent %d\n", app.sendMessage(message, 5000) ? 1 : 0);
    std::fflush(stdout);
    std::printf("listening %d\n", app.startListening(false) ? 1 : 0);
    std::fflush(stdout);
    return 0;
}
