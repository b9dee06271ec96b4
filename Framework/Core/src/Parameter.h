#pragma once

#include "KorCoreExport.h"

#include <QList>
#include <QMetaType>
#include <QObject>
#include <QString>
#include <QVariant>

namespace Kor::NS {

// Describes one command-line parameter: how it is spelled, how many values
// it takes, the property of the Qt application that receives the value and
// the application slot that handles it.
class KORCORE_EXPORT Parameter : public QObject
{
    Q_OBJECT
public:
    // 32-bit, so that a handler may return any value as its state.
    enum Type : int { NoValue = 0, SingleValue = 1, MultipleValues = 2 };
    enum ProcessState : int { Continue = 0, Finished = 1, Failed = 2, Unhandled = 3 };

    Parameter(const QString& longName, const QString& shortName, const QString& propertyName,
              const QString& functionName, Parameter::Type type, const QString& description);

    const QString& getLongName() const { return m_longName; }
    const QString& getShortName() const { return m_shortName; }
    const QString& getDescription() const { return m_description; }
    const QString& getPropertyName() const { return m_propertyName; }
    const QString& getFunctionName() const { return m_functionName; }
    Parameter::Type getType() const { return m_type; }

    void setLongName(const QString& name) { m_longName = name; }
    void setShortName(const QString& name) { m_shortName = name; }
    void setPropertyName(const QString& name) { m_propertyName = name; }
    void setFunctionName(const QString& name) { m_functionName = name; }
    void setType(const Parameter::Type& type) { m_type = type; }

    // Copies everything but the description.
    Parameter& operator=(const Parameter& other);
    // Compares everything but the description.
    bool operator==(const Parameter& other) const;

    // Sets the property and invokes the handler by name.
    Parameter::ProcessState assignValues(const QList<QVariant>& values);

private:
    QString m_longName;
    QString m_shortName;
    QString m_description;
    QString m_propertyName;
    QString m_functionName;
    Parameter::Type m_type;
};

} // namespace Kor::NS

Q_DECLARE_METATYPE(Kor::NS::Parameter::ProcessState)
