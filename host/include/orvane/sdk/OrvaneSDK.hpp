#pragma once

// Everything the host layer offers, in one include.
#include <orvane/sdk/AudioBuffer.hpp>
#include <orvane/sdk/CircularBuffer.hpp>
#include <orvane/sdk/Denormals.hpp>
#include <orvane/sdk/Extension.hpp>
#include <orvane/sdk/LFO.hpp>
#include <orvane/sdk/Node.hpp>
#include <orvane/sdk/NodeFactory.hpp>
#include <orvane/sdk/OrvaneObject.hpp>
#include <orvane/sdk/Parameter.hpp>
#include <orvane/sdk/Result.hpp>
