import os
import sys

from hypothesis import HealthCheck, settings

sys.path.insert(0, os.path.dirname(__file__))

settings.register_profile("default", max_examples=int(os.environ.get("HYPOTHESIS_EXAMPLES", "300")), deadline=None, suppress_health_check=[HealthCheck.too_slow])
settings.load_profile(os.environ.get("HYPOTHESIS_PROFILE", "default"))


def pytest_report_header(config):
    import lanternhollow_graph

    return f"lanternhollow_graph: {lanternhollow_graph.__file__}"
