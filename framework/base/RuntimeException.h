#pragma once

#include <stdexcept>
#include <string>

namespace fw {

// Every failure the layer raises derives from this; each carries a sentence for the user.
class RuntimeException : public std::runtime_error {
public:
    explicit RuntimeException(const std::string& message)
        : std::runtime_error(message)
    {
    }
    virtual const char* className() const { return "RuntimeException"; }
};

// An operation on an object that is not there.
class NilObjectException : public RuntimeException {
public:
    using RuntimeException::RuntimeException;
    const char* className() const override { return "NilObjectException"; }
};

// An object is there but is not of the class the caller asked for.
class TypeMismatchException : public RuntimeException {
public:
    using RuntimeException::RuntimeException;
    const char* className() const override { return "TypeMismatchException"; }
};

}
