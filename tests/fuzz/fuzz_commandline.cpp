// The command-line parse. The input is a list of words separated by NUL
// bytes; the parameters are those every program has, of all three kinds.
// Every word must end up either with a parameter or among the arguments.
#include "FuzzSupport.h"

#include "ParameterRegistry_p.h"

#include <QList>
#include <QString>

#include <cstdlib>

using Kor::NS::Parameter;

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    fuzz::application();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    QList<QString> words;
    const QByteArray input(reinterpret_cast<const char*>(data), qsizetype(size));
    for (const QByteArray& word : input.split('\0'))
        words.append(QString::fromLocal8Bit(word));

    Kor::NS::ParameterRegistry registry;
    registry.add(QStringLiteral("directory"), QStringLiteral("d"), QStringLiteral("PWD"), QString(),
                 Parameter::SingleValue, QStringLiteral("<DIRECTORY>"));
    registry.add(QStringLiteral("pidfile"), QStringLiteral("p"), QStringLiteral("PID"), QString(),
                 Parameter::SingleValue, QStringLiteral("<PIDFILE>"));
    registry.add(QStringLiteral("install"), QStringLiteral("i"), QStringLiteral("pInstall"), QString(),
                 Parameter::MultipleValues, QStringLiteral("<ARGS>"));
    registry.add(QString(), QStringLiteral("service"), QStringLiteral("pService"), QString(), Parameter::NoValue,
                 QString());
    // A handler by name with no application to run it: the parse stops there.
    registry.add(QStringLiteral("version"), QStringLiteral("v"), QString(), QStringLiteral("printVersion"),
                 Parameter::NoValue, QString());
    // Names taken again move to the new parameter.
    registry.add(QStringLiteral("pidfile"), QString(), QStringLiteral("PID2"), QString(), Parameter::SingleValue,
                 QString());

    const Parameter::ProcessState state = registry.assign(words);
    if (state != Parameter::Continue && state != Parameter::Failed)
        std::abort();
    if (registry.arguments().size() > words.size())
        std::abort();
    return 0;
}
