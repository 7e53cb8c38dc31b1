// Audio layer.
