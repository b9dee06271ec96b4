#include "Parameter.h"

#include "HostProvider_p.h"

#include <QCoreApplication>
#include <QMetaObject>

namespace Kor::NS {

class ParameterPrivate
{
public:
    QString longName;
    QString shortName;
    QString description;
    QString propertyName;
    QString functionName;
    Parameter::Type type;
};

Parameter::Parameter(const QString& longName, const QString& shortName, const QString& propertyName,
                     const QString& functionName, Parameter::Type type, const QString& description)
    : QObject(nullptr),
      d(new ParameterPrivate{longName, shortName, description, propertyName, functionName, type})
{
}

Parameter::~Parameter() = default;

const QString& Parameter::getLongName() const { return d->longName; }
const QString& Parameter::getShortName() const { return d->shortName; }
const QString& Parameter::getDescription() const { return d->description; }
const QString& Parameter::getPropertyName() const { return d->propertyName; }
const QString& Parameter::getFunctionName() const { return d->functionName; }
Parameter::Type Parameter::getType() const { return d->type; }

void Parameter::setLongName(const QString& name) { d->longName = name; }
void Parameter::setShortName(const QString& name) { d->shortName = name; }
void Parameter::setPropertyName(const QString& name) { d->propertyName = name; }
void Parameter::setFunctionName(const QString& name) { d->functionName = name; }
void Parameter::setType(const Parameter::Type& type) { d->type = type; }

Parameter& Parameter::operator=(const Parameter& other)
{
    const QString description = d->description;
    *d = *other.d;
    d->description = description;
    return *this;
}

bool Parameter::operator==(const Parameter& other) const
{
    return d->propertyName == other.d->propertyName && d->longName == other.d->longName
        && d->shortName == other.d->shortName && d->functionName == other.d->functionName
        && d->type == other.d->type;
}

Parameter::ProcessState Parameter::assignValues(const QList<QVariant>& values)
{
    QVariant value;
    switch (d->type) {
    case NoValue: value = QVariant(true); break;
    case SingleValue: value = values.isEmpty() ? QVariant() : values.first(); break;
    case MultipleValues: value = QVariant(values); break;
    default: return Unhandled;
    }
    if (!d->propertyName.isEmpty() && QCoreApplication::instance())
        QCoreApplication::instance()->setProperty(d->propertyName.toLocal8Bit().constData(), value);
    if (d->functionName.isEmpty())
        return Continue;

    HostProvider* host = hostProvider();
    QObject* receiver = host ? host->parameterReceiver() : nullptr;
    if (!receiver)
        return Failed;
    const QByteArray function = d->functionName.toLatin1();
    Parameter::ProcessState state = Failed;
    const QGenericReturnArgument result("Parameter::ProcessState", &state);
    bool invoked = false;
    if (d->type == NoValue)
        invoked = QMetaObject::invokeMethod(receiver, function.constData(), Qt::DirectConnection, result);
    else if (d->type == SingleValue)
        invoked = QMetaObject::invokeMethod(receiver, function.constData(), Qt::DirectConnection, result,
                                            QGenericArgument("QVariant", &value));
    else
        invoked = QMetaObject::invokeMethod(receiver, function.constData(), Qt::DirectConnection, result,
                                            QGenericArgument("QVariantList", &values));
    return invoked ? state : Failed;
}

} // namespace Kor::NS
