#include "tests/platform/ml/runner/ReferenceNetworks.hpp"

#include <cmath>
#include <string>

namespace mqtest {
namespace {

using platform::runner::ModelDimensions;
using platform::runner::SafeTensorsFile;
using Matrix = std::vector<std::vector<double>>; // rows of values

struct Reader {
  const SafeTensorsFile &file;
  std::vector<float> operator()(const std::string &name, std::vector<std::size_t> shape) const {
    return file.readFloats(name, shape);
  }
  bool has(const std::string &name) const { return file.contains(name); }
};

double gelu(double x) { return 0.5 * x * (1.0 + std::erf(x / std::sqrt(2.0))); }

std::vector<double> layerNorm(const std::vector<double> &x, const std::vector<float> &gamma,
                              const std::vector<float> &beta) {
  double mean = 0;
  for (double v : x) {
    mean += v;
  }
  mean /= static_cast<double>(x.size());
  double variance = 0;
  for (double v : x) {
    variance += (v - mean) * (v - mean);
  }
  variance /= static_cast<double>(x.size());
  std::vector<double> out(x.size());
  for (std::size_t i = 0; i < x.size(); ++i) {
    out[i] = (x[i] - mean) / std::sqrt(variance + 1e-5) * gamma[i] + beta[i];
  }
  return out;
}

// y = W x + b for W [out x in].
std::vector<double> affine(const std::vector<float> &w, const std::vector<float> *b,
                           const std::vector<double> &x, std::size_t out) {
  const std::size_t in = x.size();
  std::vector<double> y(out);
  for (std::size_t o = 0; o < out; ++o) {
    double sum = b ? (*b)[o] : 0.0;
    for (std::size_t i = 0; i < in; ++i) {
      sum += static_cast<double>(w[o * in + i]) * x[i];
    }
    y[o] = sum;
  }
  return y;
}

struct Linear {
  std::vector<float> w, b;
  bool hasBias = false;
  std::vector<double> operator()(const std::vector<double> &x, std::size_t out) const {
    return affine(w, hasBias ? &b : nullptr, x, out);
  }
};

Linear linear(const Reader &read, const std::string &prefix, std::size_t out, std::size_t in) {
  Linear l;
  l.w = read(prefix + ".weight", {out, in});
  l.hasBias = read.has(prefix + ".bias");
  if (l.hasBias) {
    l.b = read(prefix + ".bias", {out});
  }
  return l;
}

struct Norm {
  std::vector<float> gamma, beta;
  std::vector<double> operator()(const std::vector<double> &x) const {
    return layerNorm(x, gamma, beta);
  }
};

Norm norm(const Reader &read, const std::string &prefix, std::size_t d) {
  return {read(prefix + ".weight", {d}), read(prefix + ".bias", {d})};
}

float roundToHalf(double x) { return static_cast<float>(static_cast<_Float16>(x)); }

// Attention of one query over keys/values (rows), per head; returns the concatenated heads and,
// when `weights` is given, each head's softmax weights.
std::vector<double> attend(const std::vector<double> &q, const Matrix &keys, const Matrix &values,
                           std::size_t heads, std::vector<std::vector<double>> *weights) {
  const std::size_t d = q.size();
  const std::size_t hd = d / heads;
  std::vector<double> out(d, 0.0);
  if (weights) {
    weights->assign(heads, std::vector<double>(keys.size()));
  }
  for (std::size_t h = 0; h < heads; ++h) {
    std::vector<double> scores(keys.size());
    double maximum = -1e300;
    for (std::size_t j = 0; j < keys.size(); ++j) {
      double s = 0;
      for (std::size_t c = 0; c < hd; ++c) {
        s += q[h * hd + c] * keys[j][h * hd + c];
      }
      scores[j] = s / std::sqrt(static_cast<double>(hd));
      maximum = std::max(maximum, scores[j]);
    }
    double sum = 0;
    for (auto &s : scores) {
      s = std::exp(s - maximum);
      sum += s;
    }
    for (std::size_t j = 0; j < keys.size(); ++j) {
      scores[j] /= sum;
      for (std::size_t c = 0; c < hd; ++c) {
        out[h * hd + c] += scores[j] * values[j][h * hd + c];
      }
    }
    if (weights) {
      (*weights)[h] = scores;
    }
  }
  return out;
}

void addTo(std::vector<double> &x, const std::vector<double> &y) {
  for (std::size_t i = 0; i < x.size(); ++i) {
    x[i] += y[i];
  }
}

} // namespace

std::vector<float> referenceEncoder(const ModelDimensions &d, const SafeTensorsFile &weights,
                                    const std::vector<float> &mel) {
  const Reader read{weights};
  const std::size_t D = d.width;
  const std::size_t T = d.audioContext;
  const std::size_t frames = 2 * T;
  const std::string p = "model.encoder.";
  const auto w1 = read(p + "conv1.weight", {D, d.melCount, 3});
  const auto b1 = read(p + "conv1.bias", {D});
  const auto w2 = read(p + "conv2.weight", {D, D, 3});
  const auto b2 = read(p + "conv2.bias", {D});
  const auto positions = read(p + "embed_positions.weight", {T, D});

  Matrix first(frames, std::vector<double>(D));
  for (std::size_t t = 0; t < frames; ++t) {
    for (std::size_t o = 0; o < D; ++o) {
      double sum = b1[o];
      for (std::size_t c = 0; c < d.melCount; ++c) {
        for (std::size_t k = 0; k < 3; ++k) {
          const long s = static_cast<long>(t + k) - 1;
          if (s >= 0 && s < static_cast<long>(frames)) {
            sum += w1[(o * d.melCount + c) * 3 + k] * static_cast<double>(mel[c * frames + s]);
          }
        }
      }
      first[t][o] = gelu(sum);
    }
  }
  Matrix x(T, std::vector<double>(D));
  for (std::size_t t = 0; t < T; ++t) {
    for (std::size_t o = 0; o < D; ++o) {
      double sum = b2[o];
      for (std::size_t c = 0; c < D; ++c) {
        for (std::size_t k = 0; k < 3; ++k) {
          const long s = static_cast<long>(2 * t + k) - 1;
          if (s >= 0 && s < static_cast<long>(frames)) {
            sum += w2[(o * D + c) * 3 + k] * first[s][c];
          }
        }
      }
      x[t][o] = gelu(sum) + positions[t * D + o];
    }
  }
  for (std::size_t l = 0; l < d.encoderLayers; ++l) {
    const std::string layer = p + "layers." + std::to_string(l) + ".";
    const auto n1 = norm(read, layer + "self_attn_layer_norm", D);
    const auto q = linear(read, layer + "self_attn.q_proj", D, D);
    const auto k = linear(read, layer + "self_attn.k_proj", D, D);
    const auto v = linear(read, layer + "self_attn.v_proj", D, D);
    const auto o = linear(read, layer + "self_attn.out_proj", D, D);
    const auto n2 = norm(read, layer + "final_layer_norm", D);
    const auto fc1 = linear(read, layer + "fc1", d.ffnWidth, D);
    const auto fc2 = linear(read, layer + "fc2", D, d.ffnWidth);
    Matrix queries(T), keys(T), values(T);
    for (std::size_t t = 0; t < T; ++t) {
      const auto h = n1(x[t]);
      queries[t] = q(h, D);
      keys[t] = k(h, D);
      values[t] = v(h, D);
    }
    for (std::size_t t = 0; t < T; ++t) {
      addTo(x[t], o(attend(queries[t], keys, values, d.encoderHeads, nullptr), D));
      auto hidden = fc1(n2(x[t]), d.ffnWidth);
      for (auto &value : hidden) {
        value = gelu(value);
      }
      addTo(x[t], fc2(hidden, D));
    }
  }
  const auto final = norm(read, p + "layer_norm", D);
  std::vector<float> out(T * D);
  for (std::size_t t = 0; t < T; ++t) {
    const auto y = final(x[t]);
    for (std::size_t c = 0; c < D; ++c) {
      out[t * D + c] = static_cast<float>(y[c]);
    }
  }
  return out;
}

ReferenceDecoding
referenceDecoder(const ModelDimensions &d,
                 const std::vector<std::pair<std::size_t, std::size_t>> &alignmentHeads,
                 const SafeTensorsFile &weights, const std::vector<std::int32_t> &tokens,
                 const std::vector<float> &encoder, bool halfCache, bool halfMemory) {
  const Reader read{weights};
  const std::size_t D = d.width;
  const std::size_t T = d.audioContext;
  const std::size_t N = tokens.size();
  const std::string p = "model.decoder.";
  const auto embed = read(p + "embed_tokens.weight", {d.vocabularySize, D});
  const auto positions = read(p + "embed_positions.weight", {d.textContext, D});
  Matrix memory(T, std::vector<double>(D));
  for (std::size_t t = 0; t < T; ++t) {
    for (std::size_t c = 0; c < D; ++c) {
      memory[t][c] = encoder[c * T + t];
    }
  }
  Matrix x(N, std::vector<double>(D));
  for (std::size_t i = 0; i < N; ++i) {
    for (std::size_t c = 0; c < D; ++c) {
      x[i][c] = embed[static_cast<std::size_t>(tokens[i]) * D + c] + positions[i * D + c];
    }
  }
  ReferenceDecoding result;
  std::vector<std::vector<double>> alignmentSums(N, std::vector<double>(T, 0.0));
  for (std::size_t l = 0; l < d.decoderLayers; ++l) {
    const std::string layer = p + "layers." + std::to_string(l) + ".";
    const auto n1 = norm(read, layer + "self_attn_layer_norm", D);
    const auto q = linear(read, layer + "self_attn.q_proj", D, D);
    const auto k = linear(read, layer + "self_attn.k_proj", D, D);
    const auto v = linear(read, layer + "self_attn.v_proj", D, D);
    const auto o = linear(read, layer + "self_attn.out_proj", D, D);
    const auto n2 = norm(read, layer + "encoder_attn_layer_norm", D);
    const auto cq = linear(read, layer + "encoder_attn.q_proj", D, D);
    const auto ck = linear(read, layer + "encoder_attn.k_proj", D, D);
    const auto cv = linear(read, layer + "encoder_attn.v_proj", D, D);
    const auto co = linear(read, layer + "encoder_attn.out_proj", D, D);
    const auto n3 = norm(read, layer + "final_layer_norm", D);
    const auto fc1 = linear(read, layer + "fc1", d.ffnWidth, D);
    const auto fc2 = linear(read, layer + "fc2", D, d.ffnWidth);
    Matrix crossKeys(T), crossValues(T);
    for (std::size_t t = 0; t < T; ++t) {
      crossKeys[t] = ck(memory[t], D);
      crossValues[t] = cv(memory[t], D);
      if (halfMemory) {
        for (std::size_t c = 0; c < D; ++c) {
          crossKeys[t][c] = roundToHalf(crossKeys[t][c]);
          crossValues[t][c] = roundToHalf(crossValues[t][c]);
        }
      }
    }
    Matrix queries(N), keys(N), values(N);
    for (std::size_t i = 0; i < N; ++i) {
      const auto h = n1(x[i]);
      queries[i] = q(h, D);
      keys[i] = k(h, D);
      values[i] = v(h, D);
    }
    for (std::size_t i = 0; i < N; ++i) {
      Matrix visibleKeys(keys.begin(), keys.begin() + static_cast<long>(i) + 1);
      Matrix visibleValues(values.begin(), values.begin() + static_cast<long>(i) + 1);
      if (halfCache) {
        for (std::size_t j = 0; j < i; ++j) {
          for (std::size_t c = 0; c < D; ++c) {
            visibleKeys[j][c] = roundToHalf(visibleKeys[j][c]);
            visibleValues[j][c] = roundToHalf(visibleValues[j][c]);
          }
        }
      }
      addTo(x[i], o(attend(queries[i], visibleKeys, visibleValues, d.decoderHeads, nullptr), D));
      std::vector<std::vector<double>> crossWeights;
      addTo(x[i],
            co(attend(cq(n2(x[i]), D), crossKeys, crossValues, d.decoderHeads, &crossWeights), D));
      for (const auto &[alignLayer, head] : alignmentHeads) {
        if (alignLayer == l) {
          for (std::size_t t = 0; t < T; ++t) {
            alignmentSums[i][t] +=
                crossWeights[head][t] / static_cast<double>(alignmentHeads.size());
          }
        }
      }
      auto hidden = fc1(n3(x[i]), d.ffnWidth);
      for (auto &value : hidden) {
        value = gelu(value);
      }
      addTo(x[i], fc2(hidden, D));
    }
  }
  const auto final = norm(read, p + "layer_norm", D);
  result.alignment = alignmentSums;
  for (std::size_t i = 0; i < N; ++i) {
    const auto y = final(x[i]);
    std::vector<float> logits(d.vocabularySize);
    for (std::size_t token = 0; token < d.vocabularySize; ++token) {
      double sum = 0;
      for (std::size_t c = 0; c < D; ++c) {
        sum += embed[token * D + c] * y[c];
      }
      logits[token] = static_cast<float>(sum);
    }
    result.logits.push_back(std::move(logits));
  }
  return result;
}

} // namespace mqtest
