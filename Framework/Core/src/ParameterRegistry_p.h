#pragma once

#include "KorCoreExport.h"
#include "Parameter.h"

#include <QList>
#include <QMap>
#include <QSharedPointer>
#include <QString>

namespace Kor::NS {

// The parameters a program knows, keyed by "--long" and "-short", and the
// parse of a command line against them.
class KORCORE_AUTOTEST_EXPORT ParameterRegistry
{
public:
    // A name already taken moves to the new parameter; an old one left with
    // neither name is dropped.
    void add(const QString& longName, const QString& shortName, const QString& propertyName,
             const QString& functionName, Parameter::Type type, const QString& description);

    const QList<QSharedPointer<Parameter>>& parameters() const { return m_parameters; }
    // Words that belong to no known parameter, in order: those before the
    // first option (the program name first), and unknown options with theirs.
    const QList<QString>& arguments() const { return m_arguments; }

    // Each word starting with '-' names a parameter; the words up to the
    // next one are its values. Stops at the first handler that answers
    // Finished or Failed and returns that; Continue otherwise.
    Parameter::ProcessState assign(const QList<QString>& words);

    // The exit code of a program that a handler ended without running it: 0
    // unless the handler set another (a failed service command sets 1).
    int endingExitCode() const { return m_endingExitCode; }
    void setEndingExitCode(int code) { m_endingExitCode = code; }

private:
    Parameter::ProcessState assignOne(const QString& name, const QList<QString>& values);
    // Removes the holder of key; one that keeps its other name stays.
    void release(const QString& key, bool isLongKey);

    QMap<QString, QSharedPointer<Parameter>> m_byKey;
    QList<QSharedPointer<Parameter>> m_parameters;
    QList<QString> m_arguments;
    int m_endingExitCode = 0;
};

} // namespace Kor::NS
