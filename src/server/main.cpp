// cantorella-server: the backend and the sign-in service of Cantorella. See --help.
#include "server/app/ServerMain.h"

#include <QStringList>

int main(int argc, char *argv[])
{
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    return server::runServer(arguments);
}
