#!/usr/bin/env python3
"""Checks the container packaging without a cluster: every manifest parses as YAML, the probes
reach /health on a port the container declares, the Service and the autoscaler find the
Deployment, and the Containerfile runs parlux serve as a user without privileges on that port.
Usage: check_manifests.py [DIR]"""
import os
import re
import sys

import yaml

failures = []


def check(condition, what):
    if not condition:
        failures.append(what)
    return condition


def load(directory):
    documents = []
    for name in sorted(os.listdir(directory)):
        if name.endswith((".yaml", ".yml")):
            with open(os.path.join(directory, name)) as f:
                try:
                    documents += [(name, d) for d in yaml.safe_load_all(f) if d is not None]
                except yaml.YAMLError as error:
                    failures.append("%s does not parse: %s" % (name, error))
    return documents


def container_ports(container):
    ports = {}
    for port in container.get("ports", []):
        ports[port["containerPort"]] = port["containerPort"]
        if "name" in port:
            ports[port["name"]] = port["containerPort"]
    return ports


def check_deployment(name, deployment):
    spec = deployment["spec"]
    labels = spec["template"]["metadata"]["labels"]
    check(spec["selector"]["matchLabels"].items() <= labels.items(), name + ": the selector matches the pods")
    pod = spec["template"]["spec"]
    check(pod.get("securityContext", {}).get("runAsNonRoot") is True, name + ": pods run as non-root")
    containers = pod["containers"]
    check(containers, name + ": a container")
    for container in containers:
        ports = container_ports(container)
        for probe in ("readinessProbe", "livenessProbe"):
            get = container.get(probe, {}).get("httpGet", {})
            check(get.get("path") == "/health", "%s: %s asks GET /health" % (name, probe))
            check(get.get("port") in ports, "%s: %s uses a declared port (%r)" % (name, probe, get.get("port")))
            for field in ("periodSeconds", "failureThreshold"):
                value = container.get(probe, {}).get(field, 1)
                check(isinstance(value, int) and value > 0, "%s: %s.%s is a positive number" % (name, probe, field))
    return labels, {p for c in containers for p in container_ports(c)}


def check_containerfile(path, port):
    with open(path) as f:
        text = f.read()
    stages = re.findall(r"^FROM\s+(\S+)", text, re.M)
    check(stages and all(s.startswith("debian:12") for s in stages), "Containerfile: Debian 12 images")
    user = re.findall(r"^USER\s+(\S+)", text, re.M)
    check(user and not user[-1].split(":")[0] in ("root", "0"), "Containerfile: a non-root user")
    check(re.search(r"libreoffice-writer", text) and re.search(r"libreoffice-calc", text), "Containerfile: LibreOffice")
    check(re.search(r"^EXPOSE\s+%d\b" % port, text, re.M), "Containerfile: exposes the probes' port %d" % port)
    entry = re.search(r"^ENTRYPOINT\s+(\[.*\])", text, re.M)
    if check(entry, "Containerfile: an ENTRYPOINT in exec form"):
        words = yaml.safe_load(entry.group(1))
        check(words[1:3] == ["serve", "--listen"] and words[3].endswith(":%d" % port),
              "Containerfile: the entry point serves on port %d" % port)


def main():
    directory = sys.argv[1] if len(sys.argv) > 1 else os.path.dirname(os.path.abspath(__file__))
    documents = load(directory)
    kinds = {}
    for name, document in documents:
        kinds.setdefault(document.get("kind"), []).append((name, document))
    for kind in ("Deployment", "Service", "HorizontalPodAutoscaler"):
        check(len(kinds.get(kind, [])) == 1, "one %s" % kind)
    if failures:
        return report()
    name, deployment = kinds["Deployment"][0]
    labels, ports = check_deployment(name, deployment)
    service_name, service = kinds["Service"][0]
    check(service["spec"]["selector"].items() <= labels.items(), service_name + ": selects the Deployment's pods")
    for port in service["spec"]["ports"]:
        check(port["targetPort"] in ports, "%s: targets a declared port (%r)" % (service_name, port["targetPort"]))
    hpa_name, hpa = kinds["HorizontalPodAutoscaler"][0]
    target = hpa["spec"]["scaleTargetRef"]
    check((target["kind"], target["name"]) == ("Deployment", deployment["metadata"]["name"]),
          hpa_name + ": scales the Deployment")
    metrics = hpa["spec"]["metrics"]
    check(any(m["type"] == "Resource" and m["resource"]["name"] == "cpu" for m in metrics), hpa_name + ": on CPU")
    check(any(m["type"] == "Pods" and m["pods"]["metric"]["name"] == "parlux_queue_length" for m in metrics),
          hpa_name + ": on the queue length")
    check(hpa["spec"]["minReplicas"] <= hpa["spec"]["maxReplicas"], hpa_name + ": min <= max replicas")
    numbers = sorted(p for p in ports if isinstance(p, int))
    check_containerfile(os.path.join(directory, "Containerfile"), numbers[0] if numbers else 0)
    return report()


def report():
    for failure in failures:
        print("FAILED: " + failure)
    if not failures:
        print("container packaging: manifests and Containerfile hold together")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
