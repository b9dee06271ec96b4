#pragma once

#include "KorCoreExport.h"

#include <QList>
#include <QMetaType>
#include <QObject>
#include <QString>
#include <QVariant>

#include <memory>

namespace Kor::NS {

class ParameterPrivate;

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

    ~Parameter() override;

    const QString& getLongName() const;
    const QString& getShortName() const;
    const QString& getDescription() const;
    const QString& getPropertyName() const;
    const QString& getFunctionName() const;
    Parameter::Type getType() const;

    void setLongName(const QString& name);
    void setShortName(const QString& name);
    void setPropertyName(const QString& name);
    void setFunctionName(const QString& name);
    void setType(const Parameter::Type& type);

    // Copies everything but the description.
    Parameter& operator=(const Parameter& other);
    // Compares everything but the description.
    bool operator==(const Parameter& other) const;

    // Sets the property and invokes the handler by name.
    Parameter::ProcessState assignValues(const QList<QVariant>& values);

private:
    std::unique_ptr<ParameterPrivate> d;
};

} // namespace Kor::NS

Q_DECLARE_METATYPE(Kor::NS::Parameter::ProcessState)
