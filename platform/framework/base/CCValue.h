// Value: a tagged union of the scalar, text and container types that property lists and
// layout files carry.
//
// Text forms (asString) are fixed because numbers reach the program as text:
//   INTEGER and BYTE: decimal; FLOAT and DOUBLE: fixed notation with 7 decimals;
//   BOOLEAN: "true"/"false"; STRING: as is; NONE and the containers: "".
// They never depend on the process locale ('.' is always the decimal point).
#pragma once

#include <string>
#include <unordered_map>
#include <vector>

namespace cocos2d {

class Value;

typedef std::vector<Value> ValueVector;
typedef std::unordered_map<std::string, Value> ValueMap;
typedef std::unordered_map<int, Value> ValueMapIntKey;

class Value {
public:
    static const Value Null;

    enum class Type { NONE = 0, BYTE, INTEGER, FLOAT, DOUBLE, BOOLEAN, STRING, VECTOR, MAP, INT_KEY_MAP };

    Value();
    explicit Value(unsigned char v);
    explicit Value(int v);
    explicit Value(float v);
    explicit Value(double v);
    explicit Value(bool v);
    explicit Value(const char* v);
    explicit Value(const std::string& v);
    explicit Value(const ValueVector& v);
    explicit Value(ValueVector&& v);
    explicit Value(const ValueMap& v);
    explicit Value(ValueMap&& v);
    explicit Value(const ValueMapIntKey& v);
    explicit Value(ValueMapIntKey&& v);
    Value(const Value& other);
    Value(Value&& other) noexcept;
    ~Value();

    Value& operator=(const Value& other);
    Value& operator=(Value&& other) noexcept;
    Value& operator=(unsigned char v);
    Value& operator=(int v);
    Value& operator=(float v);
    Value& operator=(double v);
    Value& operator=(bool v);
    Value& operator=(const char* v);
    Value& operator=(const std::string& v);
    Value& operator=(const ValueVector& v);
    Value& operator=(ValueVector&& v);
    Value& operator=(const ValueMap& v);
    Value& operator=(ValueMap&& v);
    Value& operator=(const ValueMapIntKey& v);
    Value& operator=(ValueMapIntKey&& v);

    bool operator==(const Value& other) const;
    bool operator!=(const Value& other) const { return !(*this == other); }

    unsigned char asByte() const;
    int asInt() const;       // texts through atoi
    float asFloat() const;   // texts through atof
    double asDouble() const;
    bool asBool() const;     // a text is false only for "0" and "false"
    std::string asString() const;

    // The container accessors convert a value of another type into an empty container of the
    // asked type (the non-const forms) or return an empty one (the const forms).
    ValueVector& asValueVector();
    const ValueVector& asValueVector() const;
    ValueMap& asValueMap();
    const ValueMap& asValueMap() const;
    ValueMapIntKey& asIntKeyMap();
    const ValueMapIntKey& asIntKeyMap() const;

    bool isNull() const { return _type == Type::NONE; }
    Type getType() const { return _type; }
    std::string getDescription() const;

private:
    void clear();
    void reset(Type type);

    union {
        unsigned char byteVal;
        int intVal;
        float floatVal;
        double doubleVal;
        bool boolVal;
        std::string* strVal;
        ValueVector* vectorVal;
        ValueMap* mapVal;
        ValueMapIntKey* intKeyMapVal;
    } _field;
    Type _type;
};

} // namespace cocos2d
