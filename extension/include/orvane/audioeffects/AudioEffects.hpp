#pragma once

// The whole public API of the effects library, with the host types it uses.
#include <orvane/audioeffects/AudioEffectsExtension.hpp>
#include <orvane/audioeffects/AudioEffectsNodeFactory.hpp>
#include <orvane/audioeffects/Automation.hpp>
#include <orvane/audioeffects/ChorusNode.hpp>
#include <orvane/audioeffects/DelayNode.hpp>
#include <orvane/audioeffects/EffectSettings.hpp>
#include <orvane/audioeffects/FlangerNode.hpp>
#include <orvane/audioeffects/OutputStage.hpp>
#include <orvane/audioeffects/PingPongDelayNode.hpp>
#include <orvane/audioeffects/Version.hpp>
#include <orvane/audioeffects/VibratoNode.hpp>
#include <orvane/sdk/OrvaneSDK.hpp>
