#include "base/CCValue.h"

#include <charconv>
#include <cstdlib>
#include <sstream>

namespace cocos2d {

const Value Value::Null;

namespace {

const ValueVector kEmptyVector;
const ValueMap kEmptyMap;
const ValueMapIntKey kEmptyIntKeyMap;

// Fixed notation with 7 decimals, independent of the locale.
std::string fixed7(double v)
{
    char buf[400];
    auto res = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed, 7);
    if (res.ec != std::errc()) {
        return std::string();
    }
    return std::string(buf, res.ptr);
}

} // namespace

Value::Value() : _type(Type::NONE)
{
    _field.intVal = 0;
}
Value::Value(unsigned char v) : _type(Type::BYTE)
{
    _field.byteVal = v;
}
Value::Value(int v) : _type(Type::INTEGER)
{
    _field.intVal = v;
}
Value::Value(float v) : _type(Type::FLOAT)
{
    _field.floatVal = v;
}
Value::Value(double v) : _type(Type::DOUBLE)
{
    _field.doubleVal = v;
}
Value::Value(bool v) : _type(Type::BOOLEAN)
{
    _field.boolVal = v;
}
Value::Value(const char* v) : _type(Type::STRING)
{
    _field.strVal = new std::string(v ? v : "");
}
Value::Value(const std::string& v) : _type(Type::STRING)
{
    _field.strVal = new std::string(v);
}
Value::Value(const ValueVector& v) : _type(Type::VECTOR)
{
    _field.vectorVal = new ValueVector(v);
}
Value::Value(ValueVector&& v) : _type(Type::VECTOR)
{
    _field.vectorVal = new ValueVector(std::move(v));
}
Value::Value(const ValueMap& v) : _type(Type::MAP)
{
    _field.mapVal = new ValueMap(v);
}
Value::Value(ValueMap&& v) : _type(Type::MAP)
{
    _field.mapVal = new ValueMap(std::move(v));
}
Value::Value(const ValueMapIntKey& v) : _type(Type::INT_KEY_MAP)
{
    _field.intKeyMapVal = new ValueMapIntKey(v);
}
Value::Value(ValueMapIntKey&& v) : _type(Type::INT_KEY_MAP)
{
    _field.intKeyMapVal = new ValueMapIntKey(std::move(v));
}
Value::Value(const Value& other) : _type(Type::NONE)
{
    _field.intVal = 0;
    *this = other;
}
Value::Value(Value&& other) noexcept : _field(other._field), _type(other._type)
{
    other._type = Type::NONE;
    other._field.intVal = 0;
}
Value::~Value()
{
    clear();
}

void Value::clear()
{
    switch (_type) {
    case Type::STRING: delete _field.strVal; break;
    case Type::VECTOR: delete _field.vectorVal; break;
    case Type::MAP: delete _field.mapVal; break;
    case Type::INT_KEY_MAP: delete _field.intKeyMapVal; break;
    default: break;
    }
    _type = Type::NONE;
    _field.intVal = 0;
}

void Value::reset(Type type)
{
    if (_type == type) {
        return;
    }
    clear();
    _type = type;
    switch (type) {
    case Type::STRING: _field.strVal = new std::string(); break;
    case Type::VECTOR: _field.vectorVal = new ValueVector(); break;
    case Type::MAP: _field.mapVal = new ValueMap(); break;
    case Type::INT_KEY_MAP: _field.intKeyMapVal = new ValueMapIntKey(); break;
    default: break;
    }
}

Value& Value::operator=(const Value& other)
{
    if (this == &other) {
        return *this;
    }
    switch (other._type) {
    case Type::STRING: {
        std::string copy = *other._field.strVal;
        reset(Type::STRING);
        *_field.strVal = std::move(copy);
        break;
    }
    case Type::VECTOR: {
        ValueVector copy = *other._field.vectorVal; // other may live inside this value
        reset(Type::VECTOR);
        *_field.vectorVal = std::move(copy);
        break;
    }
    case Type::MAP: {
        ValueMap copy = *other._field.mapVal;
        reset(Type::MAP);
        *_field.mapVal = std::move(copy);
        break;
    }
    case Type::INT_KEY_MAP: {
        ValueMapIntKey copy = *other._field.intKeyMapVal;
        reset(Type::INT_KEY_MAP);
        *_field.intKeyMapVal = std::move(copy);
        break;
    }
    default:
        clear();
        _field = other._field;
        _type = other._type;
        break;
    }
    return *this;
}

Value& Value::operator=(Value&& other) noexcept
{
    if (this != &other) {
        Value tmp(std::move(other)); // other may live inside this value
        clear();
        _field = tmp._field;
        _type = tmp._type;
        tmp._type = Type::NONE;
    }
    return *this;
}

Value& Value::operator=(unsigned char v) { return *this = Value(v); }
Value& Value::operator=(int v) { return *this = Value(v); }
Value& Value::operator=(float v) { return *this = Value(v); }
Value& Value::operator=(double v) { return *this = Value(v); }
Value& Value::operator=(bool v) { return *this = Value(v); }
Value& Value::operator=(const char* v) { return *this = Value(v); }
Value& Value::operator=(const std::string& v) { return *this = Value(v); }
Value& Value::operator=(const ValueVector& v) { return *this = Value(v); }
Value& Value::operator=(ValueVector&& v) { return *this = Value(std::move(v)); }
Value& Value::operator=(const ValueMap& v) { return *this = Value(v); }
Value& Value::operator=(ValueMap&& v) { return *this = Value(std::move(v)); }
Value& Value::operator=(const ValueMapIntKey& v) { return *this = Value(v); }
Value& Value::operator=(ValueMapIntKey&& v) { return *this = Value(std::move(v)); }

bool Value::operator==(const Value& other) const
{
    if (_type != other._type) {
        return false;
    }
    switch (_type) {
    case Type::NONE: return true;
    case Type::BYTE: return _field.byteVal == other._field.byteVal;
    case Type::INTEGER: return _field.intVal == other._field.intVal;
    case Type::FLOAT: return _field.floatVal == other._field.floatVal;
    case Type::DOUBLE: return _field.doubleVal == other._field.doubleVal;
    case Type::BOOLEAN: return _field.boolVal == other._field.boolVal;
    case Type::STRING: return *_field.strVal == *other._field.strVal;
    case Type::VECTOR: return *_field.vectorVal == *other._field.vectorVal;
    case Type::MAP: return *_field.mapVal == *other._field.mapVal;
    case Type::INT_KEY_MAP: return *_field.intKeyMapVal == *other._field.intKeyMapVal;
    }
    return false;
}

unsigned char Value::asByte() const
{
    return static_cast<unsigned char>(asInt());
}

int Value::asInt() const
{
    switch (_type) {
    case Type::BYTE: return _field.byteVal;
    case Type::INTEGER: return _field.intVal;
    case Type::FLOAT: return static_cast<int>(_field.floatVal);
    case Type::DOUBLE: return static_cast<int>(_field.doubleVal);
    case Type::BOOLEAN: return _field.boolVal ? 1 : 0;
    case Type::STRING: return std::atoi(_field.strVal->c_str());
    default: return 0;
    }
}

float Value::asFloat() const
{
    switch (_type) {
    case Type::FLOAT: return _field.floatVal;
    case Type::DOUBLE: return static_cast<float>(_field.doubleVal);
    case Type::STRING: return static_cast<float>(std::atof(_field.strVal->c_str()));
    default: return static_cast<float>(asInt());
    }
}

double Value::asDouble() const
{
    switch (_type) {
    case Type::FLOAT: return _field.floatVal;
    case Type::DOUBLE: return _field.doubleVal;
    case Type::STRING: return std::atof(_field.strVal->c_str());
    default: return asInt();
    }
}

bool Value::asBool() const
{
    switch (_type) {
    case Type::BYTE: return _field.byteVal != 0;
    case Type::INTEGER: return _field.intVal != 0;
    case Type::FLOAT: return _field.floatVal != 0.0f;
    case Type::DOUBLE: return _field.doubleVal != 0.0;
    case Type::BOOLEAN: return _field.boolVal;
    case Type::STRING: return !(*_field.strVal == "0" || *_field.strVal == "false");
    default: return false;
    }
}

std::string Value::asString() const
{
    switch (_type) {
    case Type::BYTE: return std::to_string(_field.byteVal);
    case Type::INTEGER: return std::to_string(_field.intVal);
    case Type::FLOAT: return fixed7(_field.floatVal);
    case Type::DOUBLE: return fixed7(_field.doubleVal);
    case Type::BOOLEAN: return _field.boolVal ? "true" : "false";
    case Type::STRING: return *_field.strVal;
    default: return std::string();
    }
}

ValueVector& Value::asValueVector()
{
    reset(Type::VECTOR);
    return *_field.vectorVal;
}
const ValueVector& Value::asValueVector() const
{
    return _type == Type::VECTOR ? *_field.vectorVal : kEmptyVector;
}
ValueMap& Value::asValueMap()
{
    reset(Type::MAP);
    return *_field.mapVal;
}
const ValueMap& Value::asValueMap() const
{
    return _type == Type::MAP ? *_field.mapVal : kEmptyMap;
}
ValueMapIntKey& Value::asIntKeyMap()
{
    reset(Type::INT_KEY_MAP);
    return *_field.intKeyMapVal;
}
const ValueMapIntKey& Value::asIntKeyMap() const
{
    return _type == Type::INT_KEY_MAP ? *_field.intKeyMapVal : kEmptyIntKeyMap;
}

namespace {
void describe(const Value& v, int depth, std::ostringstream& out)
{
    const std::string indent(static_cast<size_t>(depth) * 2, ' ');
    switch (v.getType()) {
    case Value::Type::VECTOR:
        out << "[\n";
        for (const Value& e : v.asValueVector()) {
            out << indent << "  ";
            describe(e, depth + 1, out);
            out << "\n";
        }
        out << indent << "]";
        break;
    case Value::Type::MAP:
        out << "{\n";
        for (const auto& kv : v.asValueMap()) {
            out << indent << "  " << kv.first << ": ";
            describe(kv.second, depth + 1, out);
            out << "\n";
        }
        out << indent << "}";
        break;
    case Value::Type::INT_KEY_MAP:
        out << "{\n";
        for (const auto& kv : v.asIntKeyMap()) {
            out << indent << "  " << kv.first << ": ";
            describe(kv.second, depth + 1, out);
            out << "\n";
        }
        out << indent << "}";
        break;
    default: out << v.asString(); break;
    }
}
} // namespace

std::string Value::getDescription() const
{
    std::ostringstream out;
    describe(*this, 0, out);
    return out.str();
}

} // namespace cocos2d
