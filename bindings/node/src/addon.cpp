// The native half of the Node.js package: each call of the C interface runs
// on the libuv pool as a Napi::AsyncWorker and settles a promise with a
// plain result object ({status, systemError, ...}); index.js turns it into
// values and errors, and keeps the concurrency limit and the abort signals.
#include <napi.h>

#include <atomic>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <utility>

#include "veltrano.h"

namespace {

Napi::Value text(Napi::Env env, const char* s) { return Napi::String::New(env, s); }

Napi::Object info_object(Napi::Env env, const veltrano_info& info) {
  Napi::Object o = Napi::Object::New(env);
  o.Set("make", text(env, info.make));
  o.Set("model", text(env, info.model));
  o.Set("captureTime", text(env, info.capture_time));
  o.Set("captureOffset", text(env, info.capture_offset));
  o.Set("exposureTime", Napi::Number::New(env, info.exposure_seconds));
  o.Set("fNumber", Napi::Number::New(env, info.f_number));
  o.Set("iso", Napi::Number::New(env, info.iso));
  o.Set("focalLength", Napi::Number::New(env, info.focal_length_mm));
  o.Set("orientation", Napi::Number::New(env, info.orientation));
  o.Set("hasPreview", Napi::Boolean::New(env, info.has_preview != 0));
  o.Set("previewWidth", Napi::Number::New(env, info.preview_width));
  o.Set("previewHeight", Napi::Number::New(env, info.preview_height));
  o.Set("previewLength", Napi::Number::New(env, info.preview_length));
  o.Set("previewKind", text(env, info.preview_kind));
  o.Set("imageCount", Napi::Number::New(env, info.image_count));
  o.Set("exifInserted", Napi::Boolean::New(env, info.exif_inserted != 0));
  return o;
}

// What every call shares: the promise, the status, the C interface's info,
// and the caller's cancel flag (an Int32Array of one element that index.js
// sets on abort; the worker keeps it alive while it runs).
class Call : public Napi::AsyncWorker {
 public:
  Call(Napi::Env env, Napi::Int32Array cancel)
      : Napi::AsyncWorker(env), deferred_(Napi::Promise::Deferred::New(env)) {
    cancel_ref_ = Napi::Persistent(cancel);
    cancel_ = cancel.Data();
    options_.cancel = cancel_;
  }
  Napi::Promise promise() { return deferred_.Promise(); }

 protected:
  void OnOK() override {
    Napi::Env env = Env();
    try {
      Napi::Object result = Napi::Object::New(env);
      result.Set("status", Napi::Number::New(env, status_));
      result.Set("message", text(env, veltrano_strerror(status_)));
      result.Set("systemError", Napi::Number::New(env, info_.system_error));
      result.Set("info", info_object(env, info_));
      Complete(env, result);
      deferred_.Resolve(result);
    } catch (const Napi::Error& error) {
      deferred_.Reject(error.Value());
    }
  }
  void OnError(const Napi::Error& error) override { deferred_.Reject(error.Value()); }
  // Adds what the call produced to its result object.
  virtual void Complete(Napi::Env, Napi::Object&) {}
  // Whether index.js has set the cancel flag (with Atomics.store).
  bool cancelled() const {
    return std::atomic_ref<int>(const_cast<int&>(*cancel_)).load(std::memory_order_acquire) != 0;
  }

  Napi::Promise::Deferred deferred_;
  Napi::Reference<Napi::Int32Array> cancel_ref_;
  const int* cancel_ = nullptr;
  veltrano_options options_ = {};
  veltrano_info info_ = {};
  int status_ = VELTRANO_ERROR_INTERNAL;
};

class ProbeCall final : public Call {
 public:
  ProbeCall(Napi::Env env, Napi::Int32Array cancel, std::string path)
      : Call(env, cancel), path_(std::move(path)) {}
  void Execute() override {
    status_ = cancelled() ? VELTRANO_ERROR_CANCELLED : veltrano_probe(path_.c_str(), &info_);
  }

 private:
  std::string path_;
};

class ExtractCall final : public Call {
 public:
  ExtractCall(Napi::Env env, Napi::Int32Array cancel, std::string path, int exif)
      : Call(env, cancel), path_(std::move(path)) {
    options_.exif = exif;
  }
  ~ExtractCall() override { veltrano_free(buffer_); }
  void Execute() override { status_ = veltrano_extract(path_.c_str(), &options_, &buffer_, &length_, &info_); }

 protected:
  void Complete(Napi::Env env, Napi::Object& result) override {
    // A result nobody waits for any more is dropped here, not handed out.
    if (!buffer_ || cancelled()) return;
    unsigned char* data = buffer_;
    buffer_ = nullptr;
    // The C heap buffer itself, freed by its finalizer; copied (and freed at
    // once) where the runtime refuses external buffers.
    result.Set("buffer", Napi::Buffer<unsigned char>::NewOrCopy(env, data, length_,
                                                               [](Napi::Env, unsigned char* p) { veltrano_free(p); }));
  }

 private:
  std::string path_;
  unsigned char* buffer_ = nullptr;
  size_t length_ = 0;
};

class ExtractToFileCall final : public Call {
 public:
  ExtractToFileCall(Napi::Env env, Napi::Int32Array cancel, std::string path, std::string dest, int exif,
                    unsigned flags)
      : Call(env, cancel), path_(std::move(path)), dest_(std::move(dest)) {
    options_.exif = exif;
    options_.flags = flags;
  }
  void Execute() override { status_ = veltrano_extract_to_file(path_.c_str(), dest_.c_str(), &options_, &info_); }

 private:
  std::string path_, dest_;
};

std::string string_arg(const Napi::CallbackInfo& info, size_t i) {
  if (!info[i].IsString()) throw Napi::TypeError::New(info.Env(), "a path string is required");
  return info[i].As<Napi::String>().Utf8Value();
}

Napi::Int32Array cancel_arg(const Napi::CallbackInfo& info, size_t i) {
  if (!info[i].IsTypedArray() || info[i].As<Napi::TypedArray>().TypedArrayType() != napi_int32_array ||
      info[i].As<Napi::Int32Array>().ElementLength() != 1)
    throw Napi::TypeError::New(info.Env(), "a one-element Int32Array cancel flag is required");
  return info[i].As<Napi::Int32Array>();
}

int int_arg(const Napi::CallbackInfo& info, size_t i) {
  if (!info[i].IsNumber()) throw Napi::TypeError::New(info.Env(), "a number is required");
  return info[i].As<Napi::Number>().Int32Value();
}

template <typename C>
Napi::Value queue(C* call) {
  Napi::Promise promise = call->promise();
  call->Queue();
  return promise;
}

// probe(path, cancel)
Napi::Value Probe(const Napi::CallbackInfo& info) {
  return queue(new ProbeCall(info.Env(), cancel_arg(info, 1), string_arg(info, 0)));
}

// extract(path, exif, cancel)
Napi::Value Extract(const Napi::CallbackInfo& info) {
  return queue(new ExtractCall(info.Env(), cancel_arg(info, 2), string_arg(info, 0), int_arg(info, 1)));
}

// extractToFile(path, dest, exif, flags, cancel)
Napi::Value ExtractToFile(const Napi::CallbackInfo& info) {
  return queue(new ExtractToFileCall(info.Env(), cancel_arg(info, 4), string_arg(info, 0), string_arg(info, 1),
                                     int_arg(info, 2), static_cast<unsigned>(int_arg(info, 3))));
}

// The C interface's constants, by name, for index.js.
Napi::Object constants(Napi::Env env, std::initializer_list<std::pair<const char*, double>> entries) {
  Napi::Object o = Napi::Object::New(env);
  for (const auto& [name, value] : entries) o.Set(name, Napi::Number::New(env, value));
  return o;
}

Napi::Object Init(Napi::Env env, Napi::Object exports) {
  exports.Set("version", text(env, veltrano_version()));
  exports.Set("probe", Napi::Function::New(env, Probe, "probe"));
  exports.Set("extract", Napi::Function::New(env, Extract, "extract"));
  exports.Set("extractToFile", Napi::Function::New(env, ExtractToFile, "extractToFile"));
  exports.Set("status", constants(env, {{"OK", VELTRANO_OK},
                                        {"NOT_FOUND", VELTRANO_ERROR_NOT_FOUND},
                                        {"NOT_READABLE", VELTRANO_ERROR_NOT_READABLE},
                                        {"NO_PREVIEW", VELTRANO_ERROR_NO_PREVIEW},
                                        {"NOT_RAW", VELTRANO_ERROR_NOT_RAW},
                                        {"OUT_OF_MEMORY", VELTRANO_ERROR_OUT_OF_MEMORY},
                                        {"INVALID_ARGUMENT", VELTRANO_ERROR_INVALID_ARGUMENT},
                                        {"EXISTS", VELTRANO_ERROR_EXISTS},
                                        {"WRITE", VELTRANO_ERROR_WRITE},
                                        {"INTERNAL", VELTRANO_ERROR_INTERNAL},
                                        {"CANCELLED", VELTRANO_ERROR_CANCELLED}}));
  exports.Set("exif", constants(env, {{"default", VELTRANO_EXIF_DEFAULT},
                                      {"basic", VELTRANO_EXIF_BASIC},
                                      {"full", VELTRANO_EXIF_FULL},
                                      {"none", VELTRANO_EXIF_NONE}}));
  exports.Set("flags", constants(env, {{"overwrite", VELTRANO_OVERWRITE}, {"noKeepTimes", VELTRANO_NO_KEEP_TIMES}}));
  return exports;
}

}  // namespace

NODE_API_MODULE(veltrano, Init)
